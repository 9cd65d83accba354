// GetCommState and SetCommState (the DCB over termios), SetupComm and the
// COMMTIMEOUTS. What termios holds goes to the device; the rest is kept with
// the handle, so GetCommState returns what was set. Settings the device
// cannot carry out are refused.
#include <errno.h>

#include "platform/posix/errno_map.h"
#include "platform/posix/port.h"

// Refused everywhere: software flow control (the serial layer always turns
// it off), DSR flow and sensitivity, CTS flow or RTS handshake alone
// (CRTSCTS is both), null stripping, abort on error, an error replacement
// other than NUL. Refused on real ports only: DTR handshake and RTS toggle.
bool dcb_feasible(const DCB* d, bool pseudo_terminal) {
    if (d->BaudRate == 0 || d->ByteSize < 5 || d->ByteSize > 8 || d->Parity > SPACEPARITY) return false;
    if (d->StopBits > TWOSTOPBITS) return false;
    // A UART sends one and a half stop bits only with 5 data bits, two only with more.
    if ((d->StopBits == ONE5STOPBITS) != (d->StopBits != ONESTOPBIT && d->ByteSize == 5)) return false;
    if (d->fOutxCtsFlow != (d->fRtsControl == RTS_CONTROL_HANDSHAKE)) return false;
    // A pseudo-terminal has no DTR or RTS line: every control mode is kept
    // and none has anything to drive.
    if (!pseudo_terminal && (d->fRtsControl == RTS_CONTROL_TOGGLE || d->fDtrControl == DTR_CONTROL_HANDSHAKE))
        return false;
    if (d->fOutX || d->fInX || d->fOutxDsrFlow || d->fDsrSensitivity || d->fNull || d->fAbortOnError) return false;
    // With parity checking Linux hands on a bad character as NUL, nothing else.
    return !(d->fErrorChar && d->ErrorChar != 0);
}

static DWORD get_state(PortRecord* port, void* arg) {
    DCB d = port->dcb;
    int err = tty_get_state(port->fd, &d, port->pseudo_terminal);
    if (err == 0) *(DCB*)arg = d;
    return win32_error_from_errno(err);
}

// DTR and RTS under control mode follow the DCB. Best effort: a
// pseudo-terminal has no such lines, and the setting is kept regardless.
static void apply_control_lines(PortRecord* port, const DCB* d) {
    if (d->fDtrControl == DTR_CONTROL_ENABLE || d->fDtrControl == DTR_CONTROL_DISABLE)
        tty_change_modem_lines(port->fd, TTY_DTR, d->fDtrControl == DTR_CONTROL_ENABLE);
    if (d->fRtsControl == RTS_CONTROL_ENABLE || d->fRtsControl == RTS_CONTROL_DISABLE)
        tty_change_modem_lines(port->fd, TTY_RTS, d->fRtsControl == RTS_CONTROL_ENABLE);
}

static DWORD set_state(PortRecord* port, void* arg) {
    const DCB* d = (const DCB*)arg;
    if (!dcb_feasible(d, port->pseudo_terminal)) return ERROR_INVALID_PARAMETER;
    int err = tty_set_state(port->fd, d, port->pseudo_terminal);
    if (err) return win32_error_from_errno(err);
    apply_control_lines(port, d);
    port->dcb = *d;
    port->dcb.DCBlength = sizeof(DCB);
    return ERROR_SUCCESS;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
    if (dcb) return port_call(file, get_state, dcb);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    if (dcb) return port_call(file, set_state, dcb);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// The kernel's terminal buffers have a fixed size: nothing to record.
BOOL SetupComm(HANDLE file, DWORD, DWORD) {
    return port_call(file, [](PortRecord*, void*) { return ERROR_SUCCESS; }, nullptr);
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return port_call(file, [](PortRecord* p, void* t) {
        *(COMMTIMEOUTS*)t = p->timeouts;
        return ERROR_SUCCESS;
    }, timeouts);
}

// A new setting governs the transfers started after it. All three read
// values at MAXDWORD is the one combination Windows rejects.
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    if (!timeouts || (timeouts->ReadIntervalTimeout == MAXDWORD && timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                      timeouts->ReadTotalTimeoutConstant == MAXDWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return port_call(file, [](PortRecord* p, void* t) {
        p->timeouts = *(COMMTIMEOUTS*)t;
        return ERROR_SUCCESS;
    }, timeouts);
}
