// Pauses between frames: they may run a little long, never short.
#include "tivlink/connection.h"

#ifdef _WIN32

// Sleep follows the system tick, 15.6 ms unless some program has raised the
// timer resolution, so a 30 ms Sleep lasts anywhere from 31 to 47 ms. A
// high-resolution waitable timer (Windows 10 1803 on) wakes within a fraction
// of a millisecond without changing the tick for the whole system. It is
// looked up at run time, so the DLL still loads where it is missing and
// imports nothing new; without it every pause falls back to Sleep. The
// performance counter decides when a pause is over, so neither way can end
// it early.

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

typedef HANDLE(WINAPI* CreateWaitableTimerExWFunction)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);

enum : DWORD { TIMER_WAIT_MARGIN_MS = 50 };
enum : int64_t { HUNDRED_NS_PER_SECOND = 10000000 };

// Null where the system has no high-resolution timer.
static HANDLE create_precise_timer(void) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "CreateWaitableTimerExW") : nullptr;
    if (!found) return nullptr;
    auto create = reinterpret_cast<CreateWaitableTimerExWFunction>(reinterpret_cast<void*>(found));
    return create(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                  TIMER_MODIFY_STATE | SYNCHRONIZE);
}

static int64_t counter_now(void) {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

// a * b / c rounded up, split so that no product overflows.
static int64_t scale_up(int64_t a, int64_t b, int64_t c) { return a / c * b + (a % c * b + c - 1) / c; }

// False when the timer could not be set or did not fire in time.
static bool timer_wait(HANDLE timer, int64_t hundred_ns) {
    LARGE_INTEGER due;
    due.QuadPart = -hundred_ns;  // relative to now
    if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) return false;
    DWORD bound = (DWORD)(hundred_ns / 10000) + TIMER_WAIT_MARGIN_MS;
    return WaitForSingleObject(timer, bound) == WAIT_OBJECT_0;
}

void tiv_pause_own_thread(void) {}

void tiv_pause(uint32_t milliseconds) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t per_second = frequency.QuadPart;
    // Counted, like every pause, from the due time of the previous pause of
    // the same run (counter units here).
    const int64_t deadline =
        pause_run_start(counter_now()) + scale_up(milliseconds, per_second, 1000);
    HANDLE timer = create_precise_timer();
    for (int64_t left; (left = deadline - counter_now()) > 0;) {
        int64_t hundred_ns = scale_up(left, HUNDRED_NS_PER_SECOND, per_second);
        if (timer && timer_wait(timer, hundred_ns)) continue;
        // A timer that failed once is not trusted for the rest of the pause.
        if (timer) CloseHandle(timer);
        timer = nullptr;
        Sleep((DWORD)((hundred_ns + 9999) / 10000));
    }
    if (timer) CloseHandle(timer);
    pause_run_note(deadline);
}

#else

#include <errno.h>
#include <sys/prctl.h>
#include <time.h>

enum : int64_t { NS_PER_MS = 1000000, NS_PER_S = 1000000000 };

static int64_t monotonic_now(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * NS_PER_S + now.tv_nsec;
}

// An absolute deadline, so that a signal cannot shorten or stretch the wait.
// Linux lets a sleeping thread wake up to its timer slack late (50 us unless
// the program chose otherwise), and every pause would pay it; the slack is
// lifted for the pause and put back after, so the caller's thread keeps its own.
// A thread of the library's own keeps it lifted and saves two calls a pause.
static thread_local bool slack_lifted_for_good;

void tiv_pause_own_thread(void) {
    slack_lifted_for_good = prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
}

static void sleep_until(int64_t due) {
    timespec until;
    until.tv_sec = (time_t)(due / NS_PER_S);
    until.tv_nsec = (long)(due % NS_PER_S);
    int slack = slack_lifted_for_good ? 0 : prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (slack > 1) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    if (slack > 1) prctl(PR_SET_TIMERSLACK, (unsigned long)slack, 0, 0, 0);
}

void tiv_pause(uint32_t milliseconds) {
    int64_t due = pause_run_start(monotonic_now()) + (int64_t)milliseconds * NS_PER_MS;
    sleep_until(due);
    pause_run_note(due);
}

#endif
