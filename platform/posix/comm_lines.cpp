// Modem lines, break and software flow: EscapeCommFunction, SetCommBreak,
// ClearCommBreak, GetCommModemStatus. A pseudo-terminal has none of these
// lines and sends no break: there they fail with ERROR_NOT_SUPPORTED.
#include <errno.h>

#include "platform/posix/comm_port.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/testing.h"

static DWORD set_break(PortRecord* port, bool on) {
    if (port->pseudo_terminal) return ERROR_NOT_SUPPORTED;  // the kernel would say yes and do nothing
    int err = tty_set_break(port->fd, on);
    return err ? win32_line_error_from_errno(err) : ERROR_SUCCESS;
}

static DWORD change_line(PortRecord* port, int line, bool on) {
    int err = tty_change_modem_lines(port->fd, line, on);
    return err ? win32_line_error_from_errno(err) : ERROR_SUCCESS;
}

static DWORD escape(PortRecord* port, DWORD function) {
    bool rts_automatic = port->dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                         port->dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    switch (function) {
        case SETXOFF: case SETXON: {
            // As if XOFF or XON had arrived: hold or resume our output.
            int err = tty_stop_output(port->fd, function == SETXOFF);
            if (function == SETXON) port_io_wake(port);
            return err ? win32_error_from_errno(err) : ERROR_SUCCESS;
        }
        case SETRTS: case CLRRTS:
            if (rts_automatic) return ERROR_INVALID_PARAMETER;
            return change_line(port, TTY_RTS, function == SETRTS);
        case SETDTR: case CLRDTR:
            if (port->dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) return ERROR_INVALID_PARAMETER;
            return change_line(port, TTY_DTR, function == SETDTR);
        case SETBREAK: case CLRBREAK:
            return set_break(port, function == SETBREAK);
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

// Runs `action` on the port behind `file` after the fault check.
static BOOL on_port(PlatformCall call, HANDLE file, DWORD (*action)(PortRecord*, DWORD), DWORD arg) {
    DWORD code;
    if (platform_fault_hit(call, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    DWORD error = action(port, arg);
    port_leave(port);
    if (error) SetLastError(error);
    return error == ERROR_SUCCESS;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    return on_port(PC_EscapeCommFunction, file, escape, function);
}

BOOL SetCommBreak(HANDLE file) {
    return on_port(PC_SetCommBreak, file, [](PortRecord* p, DWORD) { return set_break(p, true); }, 0);
}

BOOL ClearCommBreak(HANDLE file) {
    return on_port(PC_ClearCommBreak, file, [](PortRecord* p, DWORD) { return set_break(p, false); }, 0);
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD status) {
    DWORD code;
    if (platform_fault_hit(PC_GetCommModemStatus, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    int lines = 0;
    int err = status ? tty_modem_lines(port->fd, &lines) : EINVAL;
    port_leave(port);
    if (err) {
        SetLastError(status ? win32_line_error_from_errno(err) : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *status = ((lines & TTY_CTS) ? MS_CTS_ON : 0) | ((lines & TTY_DSR) ? MS_DSR_ON : 0) |
              ((lines & TTY_RING) ? MS_RING_ON : 0) | ((lines & TTY_CD) ? MS_RLSD_ON : 0);
    return TRUE;
}
