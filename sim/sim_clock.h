// Time on the simulated bus: nanoseconds on the monotonic clock.
#pragma once

#include <chrono>

namespace tivsim {

using Nanos = std::chrono::nanoseconds;

inline Nanos monotonic_now() {
    return std::chrono::duration_cast<Nanos>(
        std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace tivsim
