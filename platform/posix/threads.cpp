// Threads over joinable pthreads. The record has two owners, the handle and
// the running thread; whichever lets go last frees it. Closing the handle
// joins a thread that has finished and detaches one that still runs.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include "platform/posix/errno_map.h"
#include "platform/posix/handles.h"
#include "platform/posix/testing.h"

struct ThreadRecord {
    HandleRecord h;
    Waitable w;  // signalled once the routine has ended; guards exit_code
    pthread_t thread;
    DWORD exit_code;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

static DWORD next_thread_id = 4;  // atomic; Windows ids are non-zero multiples of 4
static thread_local ThreadRecord* current_thread;

static void thread_destroy(HandleRecord* record) {
    ThreadRecord* t = (ThreadRecord*)record;
    waitable_destroy(&t->w);
    free(t);
}

// Publishes the exit code and gives up the thread's reference.
static void thread_finish(ThreadRecord* t, DWORD exit_code) {
    current_thread = nullptr;
    pthread_mutex_lock(&t->w.lock);
    t->exit_code = exit_code;
    t->w.signalled = true;
    pthread_cond_broadcast(&t->w.cond);
    pthread_mutex_unlock(&t->w.lock);
    handle_release(&t->h);
}

static void* thread_start(void* arg) {
    ThreadRecord* t = (ThreadRecord*)arg;
    current_thread = t;
    thread_finish(t, t->routine(t->parameter));
    return nullptr;
}

static void thread_close(HandleRecord* record) {
    ThreadRecord* t = (ThreadRecord*)record;
    pthread_mutex_lock(&t->w.lock);
    bool finished = t->w.signalled;
    pthread_mutex_unlock(&t->w.lock);
    // A finished thread only has its last instructions left: joining is short.
    if (finished) pthread_join(t->thread, nullptr);
    else pthread_detach(t->thread);
}

static bool thread_attr_init(pthread_attr_t* attr, SIZE_T stack_size) {
    if (pthread_attr_init(attr) != 0) return false;
    if (stack_size == 0) return true;
    if (stack_size < (SIZE_T)PTHREAD_STACK_MIN) stack_size = (SIZE_T)PTHREAD_STACK_MIN;
    if (pthread_attr_setstacksize(attr, stack_size) == 0) return true;
    pthread_attr_destroy(attr);
    return false;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD flags, LPDWORD thread_id) {
    DWORD code;
    if (platform_fault_hit(PC_CreateThread, &code)) {
        SetLastError(code);
        return nullptr;
    }
    if (!routine || (flags & ~(CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (flags & CREATE_SUSPENDED) {  // pthreads cannot start suspended
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    ThreadRecord* t = (ThreadRecord*)handle_alloc(sizeof(ThreadRecord), HANDLE_THREAD, thread_destroy);
    if (!t || !waitable_init(&t->w, false, false)) {
        if (t) handle_discard(&t->h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    t->h.waitable = &t->w;
    t->h.close = thread_close;
    t->routine = routine;
    t->parameter = parameter;
    t->h.refs = 2;  // the handle's and the thread's
    // Published first: the running thread must never be left without a handle.
    HANDLE handle = handle_publish(&t->h);
    pthread_attr_t attr;
    int err = !handle ? ENOMEM : thread_attr_init(&attr, stack_size) ? 0 : EINVAL;
    if (err == 0) {
        err = pthread_create(&t->thread, &attr, thread_start, t);
        pthread_attr_destroy(&attr);
    }
    if (err != 0) {
        if (handle) handle_withdraw(handle);
        handle_release(&t->h);
        handle_release(&t->h);
        SetLastError(err == EINVAL ? ERROR_INVALID_PARAMETER : win32_error_from_errno(err));
        return nullptr;
    }
    if (thread_id) *thread_id = __atomic_fetch_add(&next_thread_id, 4, __ATOMIC_RELAXED);
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
    DWORD code;
    if (platform_fault_hit(PC_GetExitCodeThread, &code)) {
        SetLastError(code);
        return FALSE;
    }
    HandleRecord* record = handle_acquire(thread, HANDLE_THREAD);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!exit_code) {
        handle_release(record);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ThreadRecord* t = (ThreadRecord*)record;
    pthread_mutex_lock(&t->w.lock);
    *exit_code = t->w.signalled ? t->exit_code : STILL_ACTIVE;
    pthread_mutex_unlock(&t->w.lock);
    handle_release(record);
    return TRUE;
}

void ExitThread(DWORD exit_code) {
    if (current_thread) thread_finish(current_thread, exit_code);
    pthread_exit(nullptr);
}
