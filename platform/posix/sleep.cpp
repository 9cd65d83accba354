// Sleep: never returns early; Sleep(0) gives up the time slice.
#include <errno.h>
#include <sched.h>

#include "platform/posix/clock.h"

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    // An absolute deadline: a signal that interrupts the wait cannot stretch
    // or shorten it. The library never sleeps for ever.
    timespec until = timespec_from_ns(deadline_after_ms(monotonic_ns(), milliseconds));
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
