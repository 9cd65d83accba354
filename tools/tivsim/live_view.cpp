#include "tools/tivsim/live_view.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "tools/common/device_text.h"

namespace tivsim_tool {

namespace {

using namespace std::chrono_literals;

constexpr tivsim::Nanos kChangedFor = 1s;  // how long a device stays marked
constexpr const char* kEnterScreen = "\x1b[?1049h\x1b[?25l";
constexpr const char* kLeaveScreen = "\x1b[?25h\x1b[?1049l";

}  // namespace

LiveView::LiveView(std::string export_line, std::string knobs)
    : export_line_(std::move(export_line)),
      knobs_(std::move(knobs)),
      colour_(tivtools::colour_support(STDOUT_FILENO)) {
    std::fputs(kEnterScreen, stdout);
    std::fflush(stdout);
}

LiveView::~LiveView() {
    std::fputs(kLeaveScreen, stdout);
    std::fflush(stdout);
}

void LiveView::note_changes(const std::vector<tivsim::DeviceState>& devices, tivsim::Nanos now) {
    frames_seen_.resize(devices.size(), 0);
    changed_at_.resize(devices.size(), tivsim::Nanos{0});
    for (size_t i = 0; i < devices.size(); i++) {
        if (devices[i].frames_reached != frames_seen_[i]) changed_at_[i] = now;
        frames_seen_[i] = devices[i].frames_reached;
    }
}

void LiveView::draw(const std::vector<tivsim::DeviceState>& devices, const std::vector<std::string>& log_lines,
                    const std::string& counts) {
    const tivsim::Nanos now = tivsim::monotonic_now();
    note_changes(devices, now);
    const int width = tivtools::terminal_width(STDOUT_FILENO);
    const auto fit = [width](const std::string& s) { return s.substr(0, (size_t)std::max(width - 1, 1)); };

    std::string screen = "\x1b[H";
    auto line = [&screen](const std::string& s) { screen += s + "\x1b[K\n"; };
    line(fit("tivsim  " + export_line_ + "   (export it for the host; Ctrl-C quits)"));
    line(fit(knobs_ + "   " + counts));
    line("");
    line(tivtools::device_header());
    for (size_t i = 0; i < devices.size(); i++)
        line(tivtools::device_row(devices[i], colour_, changed_at_[i].count() && now - changed_at_[i] < kChangedFor));
    line("");
    line("frames:");
    const int used = 7 + (int)devices.size();
    const size_t room = (size_t)std::max(tivtools::terminal_height(STDOUT_FILENO) - used - 1, 1);
    const size_t first = log_lines.size() > room ? log_lines.size() - room : 0;
    for (size_t i = first; i < log_lines.size(); i++) line(fit(log_lines[i]));
    screen += "\x1b[J";
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace tivsim_tool
