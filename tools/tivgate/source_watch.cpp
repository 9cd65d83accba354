#include "tools/tivgate/source_watch.h"

namespace tivgate {

bool SourceWatch::frame(Clock::time_point now) {
    last_ = now;
    const bool back = silent_;
    silent_ = false;
    return back;
}

bool SourceWatch::check(Clock::time_point now, Clock::duration after) {
    if (silent_ || !last_ || now - *last_ < after) return false;
    silent_ = true;
    return true;
}

std::optional<SourceWatch::Clock::time_point> SourceWatch::deadline(Clock::duration after) const {
    if (silent_ || !last_) return std::nullopt;
    return *last_ + after;
}

}  // namespace tivgate
