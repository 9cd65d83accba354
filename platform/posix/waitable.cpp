// Signal states and WaitForSingleObject.
#include <errno.h>

#include "platform/posix/clock.h"
#include "platform/posix/handles.h"
#include "platform/posix/testing.h"

bool waitable_init(Waitable* w, bool auto_reset, bool signalled) {
    pthread_condattr_t attr;
    if (pthread_condattr_init(&attr) != 0) return false;
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    int cond_err = pthread_cond_init(&w->cond, &attr);
    pthread_condattr_destroy(&attr);
    if (cond_err != 0) return false;
    if (pthread_mutex_init(&w->lock, nullptr) != 0) {
        pthread_cond_destroy(&w->cond);
        return false;
    }
    w->auto_reset = auto_reset;
    w->signalled = signalled;
    return true;
}

void waitable_destroy(Waitable* w) {
    pthread_cond_destroy(&w->cond);
    pthread_mutex_destroy(&w->lock);
}

void waitable_set(Waitable* w) {
    pthread_mutex_lock(&w->lock);
    w->signalled = true;
    pthread_cond_broadcast(&w->cond);
    pthread_mutex_unlock(&w->lock);
}

void waitable_reset(Waitable* w) {
    pthread_mutex_lock(&w->lock);
    w->signalled = false;
    pthread_mutex_unlock(&w->lock);
}

DWORD waitable_wait(Waitable* w, DWORD milliseconds) {
    bool forever = milliseconds == INFINITE;
    timespec until = timespec_from_ns(forever ? 0 : deadline_after_ms(monotonic_ns(), milliseconds));
    pthread_mutex_lock(&w->lock);
    int err = 0;
    while (!w->signalled && err != ETIMEDOUT)
        err = forever ? pthread_cond_wait(&w->cond, &w->lock)
                      : pthread_cond_timedwait(&w->cond, &w->lock, &until);
    bool got = w->signalled;
    if (got && w->auto_reset) w->signalled = false;
    pthread_mutex_unlock(&w->lock);
    return got ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// Events and threads can be waited on. A port handle is not waitable here,
// unlike on Windows; the library always waits on an OVERLAPPED's event.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    DWORD code;
    if (platform_fault_hit(PC_WaitForSingleObject, &code)) {
        SetLastError(code);
        return WAIT_FAILED;
    }
    HandleRecord* record = handle_acquire(handle, HANDLE_ANY);
    if (!record || !record->waitable) {
        if (record) handle_release(record);
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    DWORD result = waitable_wait(record->waitable, milliseconds);
    handle_release(record);
    return result;
}
