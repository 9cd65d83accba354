// CreateFileA for COM ports, the closing of a port handle, and the way into
// an open port.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>

#include "platform/posix/com_names.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/port.h"
#include "platform/posix/syscalls.h"

PortRecord* port_acquire(HANDLE handle) {
    PortRecord* port = (PortRecord*)handle_acquire(handle, HANDLE_PORT);
    if (port && !__atomic_load_n(&port->closing, __ATOMIC_ACQUIRE)) return port;
    if (port) handle_release(&port->h);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

void port_release(PortRecord* port) { handle_release(&port->h); }

BOOL port_call(HANDLE handle, DWORD (*action)(PortRecord*, void*), void* arg) {
    PortRecord* port = port_acquire(handle);
    if (!port) return FALSE;
    pthread_mutex_lock(&port->lock);
    DWORD error = action(port, arg);
    pthread_mutex_unlock(&port->lock);
    port_release(port);
    if (error) SetLastError(error);
    return error == ERROR_SUCCESS;
}

void overlapped_complete(OVERLAPPED* ov, DWORD status, DWORD count) {
    __atomic_store_n(&ov->InternalHigh, (ULONG_PTR)count, __ATOMIC_RELAXED);
    // From this store on, the OVERLAPPED is the caller's again.
    __atomic_store_n(&ov->Internal, (ULONG_PTR)status, __ATOMIC_RELEASE);
}

BOOL overlapped_outcome(const OVERLAPPED* ov, DWORD* transferred) {
    DWORD status = (DWORD)__atomic_load_n(&ov->Internal, __ATOMIC_ACQUIRE);
    if (transferred) *transferred = (DWORD)__atomic_load_n(&ov->InternalHigh, __ATOMIC_RELAXED);
    if (status == ERROR_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}

void port_wake(PortRecord* port) {
    uint64_t one = 1;
    ssize_t ignored = SYS(write)(port->wake_fd, &one, sizeof one);
    (void)ignored;  // a full counter already means "wake up"
}

// Makes the open device ours alone: the advisory lock keeps out every other
// open, root's too, which TIOCEXCL alone does not; TIOCEXCL then keeps
// unprivileged openers from even opening it. Leaves a raw line.
static DWORD port_claim(int fd) {
    if (!SYS(isatty)(fd)) return ERROR_FILE_NOT_FOUND;
    if (SYS(flock)(fd, LOCK_EX | LOCK_NB) != 0) return win32_open_error_from_errno(errno);
    tty_set_exclusive(fd, true);
    int err = tty_make_raw(fd);
    if (err) tty_set_exclusive(fd, false);
    return err ? win32_error_from_errno(err) : ERROR_SUCCESS;
}

// The last reference is gone: nobody can be using the descriptors now.
static void port_destroy(HandleRecord* record) {
    PortRecord* port = (PortRecord*)record;
    tty_set_exclusive(port->fd, false);
    SYS(close)(port->fd);  // drops the advisory lock
    if (port->wake_fd >= 0) SYS(close)(port->wake_fd);
    pthread_mutex_destroy(&port->lock);
    pthread_mutex_destroy(&port->write_lock);
    free(port);
}

// Ends a pending wait and a write in progress in another thread; they let
// go of their references, and the last one closes the device.
static void port_close(HandleRecord* record) {
    PortRecord* port = (PortRecord*)record;
    pthread_mutex_lock(&port->lock);
    __atomic_store_n(&port->closing, true, __ATOMIC_RELEASE);
    if (port->wait_ov) port_wait_complete(port, ERROR_OPERATION_ABORTED, 0);
    pthread_mutex_unlock(&port->lock);
    port_wake(port);
}

// A fresh port: what termios holds as the device has it, the rest as
// Windows drivers start, DTR and RTS raised.
static void port_defaults(PortRecord* port) {
    DCB* d = &port->dcb;
    d->DCBlength = sizeof(DCB);
    d->fBinary = 1;
    d->fTXContinueOnXoff = 1;
    d->fDtrControl = DTR_CONTROL_ENABLE;
    d->fRtsControl = RTS_CONTROL_ENABLE;
    d->ByteSize = 8;  // raw mode: 8N1
    port->pseudo_terminal = tty_is_pseudo_terminal(port->fd);
    tty_get_state(port->fd, d, port->pseudo_terminal);
    tty_change_modem_lines(port->fd, TTY_DTR | (d->fRtsControl == RTS_CONTROL_HANDSHAKE ? 0 : TTY_RTS), true);
}

static PortRecord* port_create(int fd, DWORD* error) {
    PortRecord* port = (PortRecord*)handle_alloc(sizeof(PortRecord), HANDLE_PORT, port_destroy);
    int wake_fd = port ? SYS(eventfd)(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (wake_fd < 0) {
        *error = port ? win32_error_from_errno(errno) : ERROR_NOT_ENOUGH_MEMORY;
        free(port);
        return nullptr;
    }
    port->fd = fd;
    port->wake_fd = wake_fd;
    port->h.close = port_close;
    pthread_mutex_init(&port->lock, nullptr);
    pthread_mutex_init(&port->write_lock, nullptr);
    port_defaults(port);
    return port;
}

// Share mode and disposition are not looked at: a port is always opened
// existing and exclusive. Overlapped or not, transfers complete at once.
HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    char path[PATH_MAX];
    if (!com_device_path(name, path, sizeof path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int fd = SYS(open)(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    DWORD error = fd < 0 ? win32_open_error_from_errno(errno) : port_claim(fd);
    PortRecord* port = error ? nullptr : port_create(fd, &error);
    HANDLE handle = port ? handle_publish(&port->h) : nullptr;
    if (!handle) {
        if (port) handle_release(&port->h);  // closes fd too
        else if (fd >= 0) SYS(close)(fd);
        SetLastError(port ? ERROR_NOT_ENOUGH_MEMORY : error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}
