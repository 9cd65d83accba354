#include "tools/common/sim_session.h"

#include <stdexcept>

#include "tools/common/device_text.h"
#include "tools/common/frame_text.h"
#include "tools/common/state_json.h"
#include "tools/common/terminal.h"

namespace tivtools {

namespace {

using namespace std::chrono_literals;

constexpr tivsim::Nanos kQuiet = 50ms;
constexpr tivsim::Nanos kSettleLimit = 2s;

}  // namespace

SimSession::SimSession(const std::vector<tivtools::SimDevicePlace>& layout, int com)
    : bus_(std::make_unique<tivsim::SimBus>()) {
    auto added = tivtools::add_sim_devices(bus_->devices(), layout.empty() ? tivtools::default_sim_layout() : layout);
    if (!added) throw std::runtime_error(added.error);
    bus_->bind_com(com);
    mark();
}

void SimSession::settle() { bus_->wait_idle(kQuiet, kSettleLimit); }

void SimSession::mark() {
    before_ = bus_->devices().snapshot();
    log_mark_ = bus_->log().size();
}

void SimSession::print_devices(FILE* out, bool all, const std::vector<tivsim::DeviceState>* since) const {
    const std::vector<tivsim::DeviceState>& before = since ? *since : before_;
    const tivtools::ColourSupport colour = tivtools::colour_support(fileno(out));
    const std::vector<tivsim::DeviceState> now = bus_->devices().snapshot();
    std::fprintf(out, "%s\n", tivtools::device_header().c_str());
    for (size_t i = 0; i < now.size(); i++) {
        const bool changed = i >= before.size() || tivtools::device_differs(before[i], now[i]);
        if (changed || all) std::fprintf(out, "%s\n", tivtools::device_row(now[i], colour, changed).c_str());
    }
    std::fflush(out);
}

void SimSession::print_json(FILE* out, int com) const {
    const tivtools::BusState state{com, bus_->slave_path(), bus_->stats(), bus_->devices().snapshot(), bus_->log()};
    std::fprintf(out, "%s\n", tivtools::bus_state_json(state).c_str());
    std::fflush(out);
}

void SimSession::print_frames(FILE* out, bool lines) const {
    const std::vector<tivsim::DecodedFrame> log = bus_->log();
    const std::vector<tivsim::DecodedFrame> chapter(log.begin() + (long)std::min(log_mark_, log.size()), log.end());
    std::fprintf(out, "%zu frame%s on the bus%s\n", chapter.size(), chapter.size() == 1 ? "" : "s",
                 lines && !chapter.empty() ? ":" : "");
    if (lines)
        for (const std::string& line : tivtools::log_lines(chapter)) std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

}  // namespace tivtools
