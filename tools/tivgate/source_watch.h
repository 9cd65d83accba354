// Whether the DMX source has fallen silent: a frame, or the time since the
// last one, decides. Plain and clock-driven; the event loop arms one timer at
// deadline() and asks check() when it fires, so a steady stream costs one
// wake-up per loss time and a silence none at all.
#pragma once

#include <chrono>
#include <optional>

namespace tivgate {

class SourceWatch {
public:
    using Clock = std::chrono::steady_clock;

    // A frame came; true when it ends a silence.
    bool frame(Clock::time_point now);
    // True the first time the source counts as silent by `now`.
    bool check(Clock::time_point now, Clock::duration after);
    // When check() may first say so; nothing before the first frame or
    // while silent already.
    std::optional<Clock::time_point> deadline(Clock::duration after) const;

    bool silent() const { return silent_; }
    std::optional<Clock::time_point> last() const { return last_; }

private:
    std::optional<Clock::time_point> last_;
    bool silent_ = false;
};

}  // namespace tivgate
