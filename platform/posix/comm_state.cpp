// GetCommState and SetCommState: the DCB over termios. What termios holds
// goes to the device; the rest is kept with the handle, so GetCommState
// returns what was set. Settings the device cannot carry out are refused.
#include <errno.h>

#include "platform/posix/comm_port.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/testing.h"

void dcb_take_line(DCB* d, const LineSettings* line, bool pseudo_terminal) {
    // Keep the rate as asked while the device runs at it (a UART may round).
    if (!tty_baud_matches(d->BaudRate, line->baud)) d->BaudRate = line->baud;
    if (!pseudo_terminal) {
        d->ByteSize = line->byte_size;
        d->Parity = line->parity;
        d->StopBits = !line->two_stop_bits ? ONESTOPBIT : line->byte_size == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    d->fOutxCtsFlow = line->cts_rts;
    if (line->cts_rts) d->fRtsControl = RTS_CONTROL_HANDSHAKE;
    else if (d->fRtsControl == RTS_CONTROL_HANDSHAKE) d->fRtsControl = RTS_CONTROL_ENABLE;
    d->fOutX = line->xon_out;
    d->fInX = line->xon_in;
    d->fParity = line->check_parity;
    d->XonChar = line->xon_char;
    d->XoffChar = line->xoff_char;
}

bool dcb_feasible(const DCB* d, bool pseudo_terminal) {
    if (d->BaudRate == 0 || d->ByteSize < 5 || d->ByteSize > 8 || d->Parity > SPACEPARITY) return false;
    if (d->StopBits > TWOSTOPBITS) return false;
    // A UART sends one and a half stop bits only with 5 data bits, two only with more.
    if (d->StopBits == ONE5STOPBITS && d->ByteSize != 5) return false;
    if (d->StopBits == TWOSTOPBITS && d->ByteSize == 5) return false;
    // CRTSCTS is CTS flow and RTS handshake together, never one alone.
    if (d->fOutxCtsFlow != (d->fRtsControl == RTS_CONTROL_HANDSHAKE)) return false;
    // A pseudo-terminal has no DTR or RTS line: every control mode is kept
    // and none has anything to drive. A real port cannot do these two.
    if (!pseudo_terminal && (d->fRtsControl == RTS_CONTROL_TOGGLE || d->fDtrControl == DTR_CONTROL_HANDSHAKE))
        return false;
    if (d->fOutxDsrFlow || d->fDsrSensitivity || d->fNull || d->fAbortOnError) return false;
    // With parity checking Linux hands on a bad character as NUL, nothing else.
    if (d->fErrorChar && d->ErrorChar != 0) return false;
    // Linux keeps sending after it has sent XOFF.
    if (d->fInX && !d->fTXContinueOnXoff) return false;
    if ((d->fOutX || d->fInX) && d->XonChar == d->XoffChar) return false;
    return true;
}

static LineSettings line_from_dcb(const DCB* d) {
    LineSettings line;
    line.baud = d->BaudRate;
    line.byte_size = d->ByteSize;
    line.parity = d->Parity;
    line.two_stop_bits = d->StopBits != ONESTOPBIT;
    line.cts_rts = d->fOutxCtsFlow;
    line.xon_out = d->fOutX;
    line.xon_in = d->fInX;
    line.check_parity = d->fParity;
    line.xon_char = d->XonChar;
    line.xoff_char = d->XoffChar;
    return line;
}

// DTR and RTS under control mode follow the DCB. Best effort: a
// pseudo-terminal has no such lines, and the setting is kept regardless.
static void apply_control_lines(PortRecord* port, const DCB* d) {
    if (d->fDtrControl == DTR_CONTROL_ENABLE || d->fDtrControl == DTR_CONTROL_DISABLE)
        tty_change_modem_lines(port->fd, TTY_DTR, d->fDtrControl == DTR_CONTROL_ENABLE);
    if (d->fRtsControl == RTS_CONTROL_ENABLE || d->fRtsControl == RTS_CONTROL_DISABLE)
        tty_change_modem_lines(port->fd, TTY_RTS, d->fRtsControl == RTS_CONTROL_ENABLE);
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
    DWORD code;
    if (platform_fault_hit(PC_GetCommState, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    LineSettings line;
    int err = dcb ? tty_get_line(port->fd, &line) : EINVAL;
    if (err == 0) {
        DCB d = port->dcb;
        dcb_take_line(&d, &line, port->pseudo_terminal);
        *dcb = d;
    }
    port_leave(port);
    if (err) SetLastError(win32_error_from_errno(err));
    return err == 0;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    DWORD code;
    if (platform_fault_hit(PC_SetCommState, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    int err = dcb && dcb_feasible(dcb, port->pseudo_terminal) ? 0 : EINVAL;
    if (err == 0) {
        LineSettings line = line_from_dcb(dcb);
        err = tty_set_line(port->fd, &line, port->pseudo_terminal);
    }
    if (err == 0) {
        apply_control_lines(port, dcb);
        port->dcb = *dcb;
        port->dcb.DCBlength = sizeof(DCB);
        port->dcb.fDummy2 = 0;
        port->dcb.wReserved = 0;
        port->dcb.wReserved1 = 0;
    }
    port_leave(port);
    if (err) SetLastError(win32_error_from_errno(err));
    return err == 0;
}
