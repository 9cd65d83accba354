// Threads over joinable pthreads. The record has two owners, the handle and
// the running thread; whichever lets go last frees it. Closing the handle
// joins a thread that has finished and detaches one that still runs.
#include <errno.h>
#include <stdlib.h>

#include "platform/posix/clock.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/handles.h"
#include "platform/posix/syscalls.h"

struct ThreadRecord {
    HandleRecord h;
    pthread_t thread;
    pthread_mutex_t lock;  // guards finished and exit_code
    pthread_cond_t ended;
    bool finished;
    DWORD exit_code;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

static void thread_destroy(HandleRecord* record) {
    ThreadRecord* t = (ThreadRecord*)record;
    pthread_cond_destroy(&t->ended);
    pthread_mutex_destroy(&t->lock);
    free(t);
}

static void* thread_start(void* arg) {
    ThreadRecord* t = (ThreadRecord*)arg;
    DWORD code = t->routine(t->parameter);
    pthread_mutex_lock(&t->lock);
    t->exit_code = code;
    t->finished = true;
    pthread_cond_broadcast(&t->ended);
    pthread_mutex_unlock(&t->lock);
    handle_release(&t->h);
    return nullptr;
}

static bool thread_finished(ThreadRecord* t, DWORD* exit_code) {
    pthread_mutex_lock(&t->lock);
    bool finished = t->finished;
    if (exit_code) *exit_code = finished ? t->exit_code : STILL_ACTIVE;
    pthread_mutex_unlock(&t->lock);
    return finished;
}

static void thread_close(HandleRecord* record) {
    ThreadRecord* t = (ThreadRecord*)record;
    // A finished thread only has its last instructions left: joining is short.
    if (thread_finished(t, nullptr)) pthread_join(t->thread, nullptr);
    else pthread_detach(t->thread);
}

static ThreadRecord* thread_record(LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
    ThreadRecord* t = (ThreadRecord*)handle_alloc(sizeof(ThreadRecord), HANDLE_THREAD, thread_destroy);
    if (!t) return nullptr;
    pthread_cond_init(&t->ended, nullptr);
    pthread_mutex_init(&t->lock, nullptr);
    t->h.close = thread_close;
    t->routine = routine;
    t->parameter = parameter;
    return t;
}

// The stack size is left to the system: the library asks for the default.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD flags, LPDWORD thread_id) {
    if (!routine || flags) {  // pthreads cannot start suspended
        SetLastError(flags ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ThreadRecord* t = thread_record(routine, parameter);
    if (t) t->h.refs = 2;  // the handle's and the thread's
    // Published first: the running thread must never be left without a handle.
    HANDLE handle = t ? handle_publish(&t->h) : nullptr;
    int err = !t || !handle ? ENOMEM : SYS(pthread_create)(&t->thread, nullptr, thread_start, t);
    if (err != 0) {
        if (handle) handle_withdraw(handle);
        if (t) {  // neither the table nor the thread holds it now
            handle_release(&t->h);
            handle_release(&t->h);
        }
        SetLastError(win32_error_from_errno(err));
        return nullptr;
    }
    static DWORD next_id = 4;  // Windows ids are non-zero multiples of 4
    if (thread_id) *thread_id = __atomic_fetch_add(&next_id, 4, __ATOMIC_RELAXED);
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
    HandleRecord* record = exit_code ? handle_acquire(thread, HANDLE_THREAD) : nullptr;
    if (!record) {
        SetLastError(exit_code ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    thread_finished((ThreadRecord*)record, exit_code);
    handle_release(record);
    return TRUE;
}

// Only threads can be waited on: nothing signals an event here.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ThreadRecord* t = (ThreadRecord*)handle_acquire(handle, HANDLE_THREAD);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    timespec until = timespec_from_ns(deadline_after_ms(monotonic_ns(), milliseconds));
    pthread_mutex_lock(&t->lock);
    int err = 0;
    while (!t->finished && err != ETIMEDOUT)
        err = milliseconds == INFINITE ? pthread_cond_wait(&t->ended, &t->lock)
                                       : pthread_cond_clockwait(&t->ended, &t->lock, CLOCK_MONOTONIC, &until);
    bool finished = t->finished;
    pthread_mutex_unlock(&t->lock);
    handle_release(&t->h);
    return finished ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
