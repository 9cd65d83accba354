#include "tools/tivctl/progress_display.h"

#include <algorithm>

#include "tools/common/terminal.h"

namespace tivctl {

ProgressDisplay::ProgressDisplay(FILE* out, bool terminal, tivtools::Millis interval)
    : out_(out), terminal_(terminal), interval_(interval) {}

void ProgressDisplay::update(const tivtools::ProgressSample& s) {
    if (terminal_) {
        draw_bar(s);
    } else if (s.elapsed >= next_line_) {
        print_line(s);
        // On the grid of the interval, so a slow poll does not drift the lines.
        while (next_line_ <= s.elapsed) next_line_ += std::max(interval_, tivtools::Millis(1));
    }
}

void ProgressDisplay::finish(const tivtools::ProgressSample& s) {
    if (terminal_) {
        draw_bar(s);
        std::fputc('\n', out_);
        std::fflush(out_);
    } else {
        print_line(s);
    }
}

void ProgressDisplay::draw_bar(const tivtools::ProgressSample& s) {
    const int width = tivtools::terminal_width(fileno(out_));
    // Carriage return, the bar, then clear whatever a longer line left behind.
    std::fprintf(out_, "\r%s\x1b[K", tivtools::progress_bar(s, width - 1).c_str());
    std::fflush(out_);
}

void ProgressDisplay::print_line(const tivtools::ProgressSample& s) {
    std::fprintf(out_, "%s\n", tivtools::progress_line(s).c_str());
    std::fflush(out_);
}

}  // namespace tivctl
