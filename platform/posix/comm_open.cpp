// CreateFileA for COM ports and the closing of a port handle.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix/comm_port.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/testing.h"

// Makes the open device ours alone: the advisory lock keeps out every other
// open, root's too, which TIOCEXCL alone does not; TIOCEXCL then keeps
// unprivileged openers from even opening it. Leaves a raw line.
static DWORD port_claim(int fd) {
    if (!isatty(fd)) return ERROR_FILE_NOT_FOUND;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return win32_open_error_from_errno(errno);
    tty_set_exclusive(fd, true);
    int err = tty_make_raw(fd);
    if (err) {
        tty_set_exclusive(fd, false);
        return win32_error_from_errno(err);
    }
    return ERROR_SUCCESS;
}

static void port_destroy(HandleRecord* record) {
    PortRecord* port = (PortRecord*)record;
    pthread_cond_destroy(&port->completed);
    pthread_mutex_destroy(&port->lock);
    free(port);
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
    d->XonLim = 2048;
    d->XoffLim = 512;
    port->pseudo_terminal = tty_is_pseudo_terminal(port->fd);
    d->ByteSize = 8;  // raw mode: 8N1
    d->Parity = NOPARITY;
    d->StopBits = ONESTOPBIT;
    LineSettings line;
    if (tty_get_line(port->fd, &line) == 0) dcb_take_line(d, &line, port->pseudo_terminal);
    tty_change_modem_lines(port->fd, TTY_DTR | (d->fRtsControl == RTS_CONTROL_HANDSHAKE ? 0 : TTY_RTS), true);
    port->in_queue_size = port->out_queue_size = 4096;
    port->has_counters = tty_counters(port->fd, &port->error_base) == 0;
}

// Aborts what is pending, ends the port's threads and lets go of the device.
static void port_close(HandleRecord* record) {
    PortRecord* port = (PortRecord*)record;
    pthread_mutex_lock(&port->lock);
    port->closing = true;
    port_abort_queue(port, &port->reads, ERROR_OPERATION_ABORTED);
    port_abort_queue(port, &port->writes, ERROR_OPERATION_ABORTED);
    if (port->wait) {
        PortOp* wait = port->wait;
        port->wait = nullptr;
        port_op_complete(port, wait, ERROR_OPERATION_ABORTED, 0);
    }
    pthread_mutex_unlock(&port->lock);
    port_io_stop(port);
    tty_set_exclusive(port->fd, false);
    close(port->fd);  // drops the advisory lock
    if (port->wake_fd >= 0) close(port->wake_fd);
}

static PortRecord* port_create(int fd, bool overlapped, DWORD* error) {
    PortRecord* port = (PortRecord*)handle_alloc(sizeof(PortRecord), HANDLE_PORT, port_destroy);
    if (!port) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    port->fd = fd;
    port->overlapped = overlapped;
    port->h.close = port_close;
    pthread_mutex_init(&port->lock, nullptr);
    pthread_cond_init(&port->completed, nullptr);
    port_defaults(port);
    port->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (port->wake_fd < 0 || !port_io_start(port)) {
        *error = port->wake_fd < 0 ? win32_error_from_errno(errno) : ERROR_NOT_ENOUGH_MEMORY;
        port_close(&port->h);
        handle_release(&port->h);
        return nullptr;
    }
    return port;
}

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags, HANDLE) {
    DWORD code;
    if (platform_fault_hit(PC_CreateFileA, &code)) {
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }
    char path[PATH_MAX];
    if (!platform_com_device_path(name, path, sizeof path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(win32_open_error_from_errno(errno));
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = port_claim(fd);
    if (error) {
        close(fd);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    PortRecord* port = port_create(fd, (flags & FILE_FLAG_OVERLAPPED) != 0, &error);
    if (!port) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = handle_publish(&port->h);
    if (!handle) {
        port_close(&port->h);
        handle_release(&port->h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}
