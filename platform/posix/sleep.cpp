// Sleep: never returns early; Sleep(0) gives up the time slice.
#include <errno.h>
#include <sched.h>

#include "platform/posix/clock.h"

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    bool forever = milliseconds == INFINITE;
    // An absolute deadline: a signal that interrupts the wait cannot stretch
    // or shorten it.
    timespec until = timespec_from_ns(deadline_after_ms(monotonic_ns(), milliseconds));
    for (;;) {
        int err = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (err == EINTR) continue;
        if (!forever || err != 0) return;
        until.tv_sec += 24 * 3600;
    }
}
