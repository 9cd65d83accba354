#include "tools/tivgate/source_watch.h"

#include <algorithm>

#include "tools/tivgate/log.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

// How often the source's clock is looked at while it is silent; also the
// most a "DMX is back" line can lag.
constexpr auto kTick = 100ms;

}  // namespace

void SourceWatch::check(Clock::time_point now) {
    const auto last = scheduler_.last_offer();
    if (!last) return;
    const std::shared_ptr<const Patch> patch = scheduler_.patch();
    const bool silent = now - *last >= patch->loss.after;
    if (silent && !lost_) {
        lost_ = true;
        const double s = std::chrono::duration<double>(patch->loss.after).count();
        if (patch->loss.look) log_line("no DMX for %.1f s: sending the loss look 0x%08X", s, patch->loss.look->colour);
        else log_line("no DMX for %.1f s: holding the last look", s);
    } else if (!silent && lost_) {
        lost_ = false;
        imposed_for_.reset();
        log_line("DMX is back");
    }
    // Again after a reload, for the fixtures it brought.
    if (lost_ && patch->loss.look && imposed_for_ != patch) {
        scheduler_.impose(*patch->loss.look, now);
        imposed_for_ = patch;
    }
}

Clock::time_point SourceWatch::next(Clock::time_point now) const {
    const auto last = scheduler_.last_offer();
    if (!last || lost_) return now + kTick;
    return std::min(now + kTick, *last + scheduler_.patch()->loss.after);
}

}  // namespace tivgate
