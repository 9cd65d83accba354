// ClearCommError and PurgeComm.
#include "platform/posix/comm_port.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/testing.h"

// Line errors (CE_*) since the last call, from a real port's counters.
static DWORD take_line_errors(PortRecord* port) {
    TtyCounters now;
    if (!port->has_counters || tty_counters(port->fd, &now) != 0) return 0;
    TtyCounters* base = &port->error_base;
    DWORD errors = 0;
    if (now.buffer_overrun != base->buffer_overrun) errors |= CE_RXOVER;
    if (now.overrun != base->overrun) errors |= CE_OVERRUN;
    if (now.parity != base->parity) errors |= CE_RXPARITY;
    if (now.frame != base->frame) errors |= CE_FRAME;
    if (now.rx_break != base->rx_break) errors |= CE_BREAK;
    *base = now;
    return errors;
}

// Bytes of pending writes not yet on the line: the unwritten parts of the
// queued writes plus what a real port's kernel buffer still holds.
static DWORD output_backlog(PortRecord* port) {
    DWORD bytes = 0;
    for (const PortOp* op = port->writes.head; op; op = op->next) bytes += op->count - op->done;
    DWORD kernel = 0;
    if (!port->pseudo_terminal && tty_output_queue(port->fd, &kernel) == 0) bytes += kernel;
    return bytes;
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat) {
    DWORD code;
    if (platform_fault_hit(PC_ClearCommError, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    COMSTAT s = {};
    int err = tty_input_queue(port->fd, &s.cbInQue);
    if (err == 0) {
        s.cbOutQue = output_backlog(port);
        int lines = 0;
        if (port->dcb.fOutxCtsFlow && tty_modem_lines(port->fd, &lines) == 0) s.fCtsHold = !(lines & TTY_CTS);
        DWORD flags = take_line_errors(port);
        if (errors) *errors = flags;
        if (stat) *stat = s;
    }
    port_leave(port);
    if (err) SetLastError(win32_error_from_errno(err));
    return err == 0;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    DWORD code;
    if (platform_fault_hit(PC_PurgeComm, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    const DWORD all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if (flags & ~all) {
        port_leave(port);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & PURGE_TXABORT) port_abort_queue(port, &port->writes, ERROR_OPERATION_ABORTED);
    if (flags & PURGE_RXABORT) port_abort_queue(port, &port->reads, ERROR_OPERATION_ABORTED);
    // A pseudo-terminal's output queue is always empty: what it took is on
    // the line already (see kernel_backlog).
    bool clear_out = (flags & PURGE_TXCLEAR) && !port->pseudo_terminal;
    int err = tty_flush(port->fd, (flags & PURGE_RXCLEAR) != 0, clear_out);
    port_io_wake(port);
    port_leave(port);
    if (err) SetLastError(win32_error_from_errno(err));
    return err == 0;
}
