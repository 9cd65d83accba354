// ClearCommError, PurgeComm, and the modem lines and break:
// EscapeCommFunction, SetCommBreak, ClearCommBreak, GetCommModemStatus. A
// pseudo-terminal has no modem lines and sends no break: there those fail
// with ERROR_NOT_SUPPORTED.
#include "platform/posix/errno_map.h"
#include "platform/posix/port.h"

// Line errors are not counted: the serial layer keeps them for information
// only, and no decision rests on them.
static DWORD clear_error(PortRecord* port, void* arg) {
    COMSTAT s = {};
    int err = tty_input_queue(port->fd, &s.cbInQue);
    if (err) return win32_error_from_errno(err);
    if (!port->pseudo_terminal) tty_output_queue(port->fd, &s.cbOutQue);
    if (arg) *(COMSTAT*)arg = s;
    return ERROR_SUCCESS;
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat) {
    if (errors) *errors = 0;
    return port_call(file, clear_error, stat);
}

// Transfers never pend, so the abort flags have nothing to end. A
// pseudo-terminal's output queue is always empty: what it took is on the
// line already.
static DWORD purge(PortRecord* port, void* arg) {
    DWORD flags = *(DWORD*)arg;
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) return ERROR_INVALID_PARAMETER;
    bool clear_out = (flags & PURGE_TXCLEAR) && !port->pseudo_terminal;
    int err = tty_flush(port->fd, (flags & PURGE_RXCLEAR) != 0, clear_out);
    return err ? win32_error_from_errno(err) : ERROR_SUCCESS;
}

BOOL PurgeComm(HANDLE file, DWORD flags) { return port_call(file, purge, &flags); }

static DWORD set_break(PortRecord* port, bool on) {
    if (port->pseudo_terminal) return ERROR_NOT_SUPPORTED;  // the kernel would say yes and do nothing
    int err = tty_set_break(port->fd, on);
    return err ? win32_line_error_from_errno(err) : ERROR_SUCCESS;
}

static DWORD change_line(PortRecord* port, int line, bool on) {
    int err = tty_change_modem_lines(port->fd, line, on);
    return err ? win32_line_error_from_errno(err) : ERROR_SUCCESS;
}

// A line under handshake belongs to the driver.
static DWORD escape(PortRecord* port, void* arg) {
    DWORD function = *(DWORD*)arg;
    bool rts_driven = port->dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || port->dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    bool dtr_driven = port->dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
    switch (function) {
        case SETRTS: case CLRRTS:
            return rts_driven ? ERROR_INVALID_PARAMETER : change_line(port, TTY_RTS, function == SETRTS);
        case SETDTR: case CLRDTR:
            return dtr_driven ? ERROR_INVALID_PARAMETER : change_line(port, TTY_DTR, function == SETDTR);
        case SETBREAK: case CLRBREAK: return set_break(port, function == SETBREAK);
        case SETXOFF: case SETXON: return ERROR_NOT_SUPPORTED;  // software flow control is never on
        default: return ERROR_INVALID_PARAMETER;
    }
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) { return port_call(file, escape, &function); }

BOOL SetCommBreak(HANDLE file) {
    return port_call(file, [](PortRecord* p, void*) { return set_break(p, true); }, nullptr);
}

BOOL ClearCommBreak(HANDLE file) {
    return port_call(file, [](PortRecord* p, void*) { return set_break(p, false); }, nullptr);
}

static DWORD modem_status(PortRecord* port, void* arg) {
    int lines = 0;
    int err = tty_modem_lines(port->fd, &lines);
    if (err) return win32_line_error_from_errno(err);
    *(DWORD*)arg = ((lines & TTY_CTS) ? MS_CTS_ON : 0) | ((lines & TTY_DSR) ? MS_DSR_ON : 0) |
                   ((lines & TTY_RING) ? MS_RING_ON : 0) | ((lines & TTY_CD) ? MS_RLSD_ON : 0);
    return ERROR_SUCCESS;
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD status) {
    if (status) return port_call(file, modem_status, status);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
