#include <string.h>

#include "diagnostics/diagnostics.h"
#include "serial/serial.h"

static const DWORD BAUD_BASE = 115200;

// Keeps the code of a refused call; the result passes through.
static BOOL remember(SerialPortInfo* spi, BOOL ok) {
    if (!ok) serial_set_last_error(spi, GetLastError());
    return ok;
}

static BOOL read_state(SerialPortInfo* spi, DCB* dcb) {
    memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof *dcb;
    return remember(spi, GetCommState(spi->hComm, dcb));
}

static BOOL write_state(SerialPortInfo* spi, DCB* dcb) {
    return remember(spi, SetCommState(spi->hComm, dcb));
}

static BOOL read_timeouts(SerialPortInfo* spi, COMMTIMEOUTS* timeouts) {
    return remember(spi, GetCommTimeouts(spi->hComm, timeouts));
}

BOOL SerialSetBaudrate(SerialPortInfo* spi, DWORD baud) {
    serial_set_last_error(spi, 0);
    // A zero rate would divide by zero; it is as illegal as any non-divisor.
    if (baud == 0 || BAUD_BASE % baud != 0) TIV_ASSERT(!"Fatal Error: Illegal baudrate");
    DCB dcb;
    if (!read_state(spi, &dcb)) return FALSE;
    dcb.BaudRate = baud;
    return write_state(spi, &dcb);
}

BOOL SerialSetFormat(SerialPortInfo* spi, DWORD parity, DWORD bytesize, DWORD stopbits) {
    serial_set_last_error(spi, 0);
    DCB dcb;
    if (!read_state(spi, &dcb)) return FALSE;
    dcb.Parity = (BYTE)parity;
    dcb.ByteSize = (BYTE)bytesize;
    dcb.StopBits = (BYTE)stopbits;
    dcb.fParity = 1;
    dcb.fErrorChar = 0;
    return write_state(spi, &dcb);
}

BOOL SerialSetHandshake(SerialPortInfo* spi, DWORD mode) {
    serial_set_last_error(spi, 0);
    DCB dcb;
    if (!read_state(spi, &dcb)) return FALSE;
    switch (mode) {
        case 0:
            dcb.fOutxCtsFlow = 0;
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
            break;
        case 1:
            dcb.fOutxCtsFlow = 1;
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            break;
        default:
            TIV_ASSERT(!"Fatal Error: Unknown parameter!");
    }
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fBinary = 1;
    dcb.fNull = 0;
    return write_state(spi, &dcb);
}

BOOL SerialSetQueues(SerialPortInfo* spi, DWORD in_size, DWORD out_size) {
    serial_set_last_error(spi, 0);
    return remember(spi, SetupComm(spi->hComm, in_size, out_size));
}

BOOL SerialSetReadTimeouts(SerialPortInfo* spi, DWORD interval, DWORD multiplier, DWORD constant) {
    serial_set_last_error(spi, 0);
    COMMTIMEOUTS timeouts;
    if (!read_timeouts(spi, &timeouts)) return FALSE;
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutMultiplier = multiplier;
    timeouts.ReadTotalTimeoutConstant = constant;
    return remember(spi, SetCommTimeouts(spi->hComm, &timeouts));
}

BOOL SerialSetWriteTimeouts(SerialPortInfo* spi, DWORD multiplier, DWORD constant) {
    serial_set_last_error(spi, 0);
    COMMTIMEOUTS timeouts;
    if (!read_timeouts(spi, &timeouts)) return FALSE;
    timeouts.WriteTotalTimeoutMultiplier = multiplier;
    timeouts.WriteTotalTimeoutConstant = constant;
    return remember(spi, SetCommTimeouts(spi->hComm, &timeouts));
}

BOOL SerialSetMask(SerialPortInfo* spi, DWORD mask) {
    serial_set_last_error(spi, 0);
    return remember(spi, SetCommMask(spi->hComm, mask));
}

BOOL SerialPurge(SerialPortInfo* spi) {
    serial_set_last_error(spi, 0);
    DWORD all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    return remember(spi, PurgeComm(spi->hComm, all));
}

// A line under handshake control belongs to the driver: refuse quietly.
static bool line_under_handshake(const DCB* dcb, DWORD function) {
    if (dcb->fDtrControl == DTR_CONTROL_HANDSHAKE && (function == SETDTR || function == CLRDTR))
        return true;
    bool rts_driven =
        dcb->fRtsControl == RTS_CONTROL_HANDSHAKE || dcb->fRtsControl == RTS_CONTROL_TOGGLE;
    return rts_driven && (function == SETRTS || function == CLRRTS);
}

BOOL SerialEscape(SerialPortInfo* spi, DWORD function) {
    serial_set_last_error(spi, 0);
    DCB dcb;
    // The guard needs settings that were really read; without them, do nothing.
    if (!read_state(spi, &dcb)) return FALSE;
    if (line_under_handshake(&dcb, function)) return FALSE;
    return remember(spi, EscapeCommFunction(spi->hComm, function));
}

BOOL SerialSetBreak(SerialPortInfo* spi) {
    serial_set_last_error(spi, 0);
    return remember(spi, SetCommBreak(spi->hComm));
}

BOOL SerialClearBreak(SerialPortInfo* spi) {
    serial_set_last_error(spi, 0);
    return remember(spi, ClearCommBreak(spi->hComm));
}

BOOL SerialGetModemStatus(SerialPortInfo* spi, DWORD* status) {
    serial_set_last_error(spi, 0);
    return remember(spi, GetCommModemStatus(spi->hComm, status));
}
