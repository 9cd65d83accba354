// Monotonic time in nanoseconds, for deadlines that wall-clock changes
// must not move.
#pragma once

#include <stdint.h>
#include <time.h>

#include "platform/posix/win32_api.h"

constexpr int64_t NS_PER_MS = 1000000;
constexpr int64_t NS_PER_S = 1000000000;

inline int64_t monotonic_ns(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * NS_PER_S + now.tv_nsec;
}

inline timespec timespec_from_ns(int64_t ns) {
    if (ns < 0) ns = 0;
    timespec ts;
    ts.tv_sec = (time_t)(ns / NS_PER_S);
    ts.tv_nsec = (long)(ns % NS_PER_S);
    return ts;
}

// now + ms as an absolute deadline.
inline int64_t deadline_after_ms(int64_t now, uint64_t ms) { return now + (int64_t)ms * NS_PER_MS; }
