// The event mask, WaitCommEvent and GetOverlappedResult. The one event
// reported is EV_RXCHAR, and it is level-triggered, unlike Windows, which
// reports each arrival once: it holds while received bytes wait, so a reader
// that takes only part of them is woken again for the rest. The library's
// one waiter, the reader, drops every other event, so line and modem-line
// events are accepted in the mask and never raised.
#include <errno.h>

#include "platform/posix/errno_map.h"
#include "platform/posix/port.h"
#include "platform/posix/syscalls.h"

// Every event bit Windows defines, EV_RXCHAR through EV_EVENT2.
static const DWORD EV_ALL = 0x1FFF;

void port_wait_complete(PortRecord* port, DWORD status, DWORD events) {
    if (status == ERROR_SUCCESS) *port->wait_mask = events;
    overlapped_complete(port->wait_ov, status, status == ERROR_SUCCESS ? sizeof(DWORD) : 0);
    port->wait_ov = nullptr;
    port->wait_mask = nullptr;
}

// Completes the pending wait if received bytes wait. Under the lock.
static DWORD wait_check(PortRecord* port) {
    DWORD queued = 0;
    int err = (port->mask & EV_RXCHAR) ? tty_input_queue(port->fd, &queued) : 0;
    if (err) return win32_error_from_errno(err);
    if (queued) port_wait_complete(port, ERROR_SUCCESS, EV_RXCHAR);
    return ERROR_SUCCESS;
}

struct WaitRequest {
    DWORD* mask;
    OVERLAPPED* ov;
};

// One wait at a time, with an OVERLAPPED and with something to wait for.
static DWORD wait_arm(PortRecord* port, void* arg) {
    WaitRequest* r = (WaitRequest*)arg;
    if (!r->mask || !r->ov || port->wait_ov || port->mask == 0) return ERROR_INVALID_PARAMETER;
    uint64_t stale;  // a wake-up meant for an earlier wait
    ssize_t ignored = SYS(read)(port->wake_fd, &stale, sizeof stale);
    (void)ignored;
    port->wait_ov = r->ov;
    port->wait_mask = r->mask;
    __atomic_store_n(&r->ov->InternalHigh, 0, __ATOMIC_RELAXED);
    __atomic_store_n(&r->ov->Internal, STATUS_PENDING, __ATOMIC_RELEASE);
    DWORD error = wait_check(port);
    if (error) {
        port->wait_ov = nullptr;
        overlapped_complete(r->ov, error, 0);
        return error;
    }
    return port->wait_ov ? ERROR_IO_PENDING : ERROR_SUCCESS;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD mask, LPOVERLAPPED ov) {
    WaitRequest request = {mask, ov};
    return port_call(file, wait_arm, &request);
}

// A pending wait ends successfully with an empty mask, as on Windows.
static DWORD mask_set(PortRecord* port, void* arg) {
    DWORD mask = *(DWORD*)arg;
    if (mask & ~EV_ALL) return ERROR_INVALID_PARAMETER;
    if (port->wait_ov) {
        port_wait_complete(port, ERROR_SUCCESS, 0);
        port_wake(port);
    }
    port->mask = mask;
    return ERROR_SUCCESS;
}

BOOL SetCommMask(HANDLE file, DWORD mask) { return port_call(file, mask_set, &mask); }

// Sleeps until bytes arrive, the line hangs up or another thread ends the
// wait. Called and returns with the lock held.
static void wait_sleep(PortRecord* port) {
    pollfd fds[2] = {{port->fd, (short)((port->mask & EV_RXCHAR) ? POLLIN : 0), 0}, {port->wake_fd, POLLIN, 0}};
    pthread_mutex_unlock(&port->lock);
    int n = SYS(ppoll)(fds, 2, nullptr, nullptr);
    pthread_mutex_lock(&port->lock);
    bool hung_up = n > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL));
    if (n < 0 && errno != EINTR) hung_up = true;
    if (hung_up && port->wait_ov && wait_check(port) == ERROR_SUCCESS && port->wait_ov)
        port_wait_complete(port, ERROR_GEN_FAILURE, 0);
}

// Moves the pending event wait on, here in the caller's thread; every other
// transfer has completed before it returned.
static DWORD wait_collect(PortRecord* port, OVERLAPPED* ov, bool wait) {
    while (!HasOverlappedIoCompleted(ov)) {
        if (ov != port->wait_ov) return ERROR_INVALID_PARAMETER;
        DWORD error = wait_check(port);
        if (error) port_wait_complete(port, error, 0);
        if (HasOverlappedIoCompleted(ov)) break;
        if (!wait) return ERROR_IO_INCOMPLETE;
        wait_sleep(port);
    }
    return ERROR_SUCCESS;
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    PortRecord* port = (PortRecord*)handle_acquire(file, HANDLE_PORT);
    if (!port || !ov) {
        if (port) port_release(port);
        SetLastError(port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    pthread_mutex_lock(&port->lock);
    DWORD error = wait_collect(port, ov, wait != FALSE);
    pthread_mutex_unlock(&port->lock);
    port_release(port);
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return overlapped_outcome(ov, transferred);
}
