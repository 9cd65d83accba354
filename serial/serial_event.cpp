#include "serial/serial.h"

BOOL SerialWaitEvent(SerialPortInfo* spi) {
    serial_set_last_error(spi, 0);
    spi->dwEvtMask = 0;
    if (WaitCommEvent(spi->hComm, &spi->dwEvtMask, &spi->olWait)) return TRUE;
    DWORD code = GetLastError();
    serial_set_last_error(spi, code);
    return code == ERROR_IO_PENDING;
}

DWORD SerialGetEvent(SerialPortInfo* spi, int wait) {
    DWORD ignored = 0;
    if (GetOverlappedResult(spi->hComm, &spi->olWait, &ignored, wait ? TRUE : FALSE))
        return spi->dwEvtMask;
    if (GetLastError() != ERROR_IO_INCOMPLETE) {
        DWORD errors = 0;
        ClearCommError(spi->hComm, &errors, nullptr);
        __atomic_store_n(&spi->dwCommErrors, errors, __ATOMIC_RELAXED);
        SerialWaitEvent(spi);
    }
    return 0;
}
