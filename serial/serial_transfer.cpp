#include "serial/serial.h"

static void clear_errors(SerialPortInfo* spi, COMSTAT* stat) {
    DWORD errors = 0;
    ClearCommError(spi->hComm, &errors, stat);
    __atomic_store_n(&spi->dwCommErrors, errors, __ATOMIC_RELAXED);
}

// Collects a transfer that did not complete at once. Decisions are taken on
// the code just obtained, never on dwLastError, which the other thread writes
// too. Returns the count last reported for the transfer.
static int32_t finish_transfer(SerialPortInfo* spi, OVERLAPPED* ov, DWORD* count) {
    DWORD code = GetLastError();
    serial_set_last_error(spi, code);
    if (code == ERROR_IO_PENDING) {
        for (;;) {
            if (GetOverlappedResult(spi->hComm, ov, count, TRUE)) return (int32_t)*count;
            code = GetLastError();
            serial_set_last_error(spi, code);
            if (code != ERROR_IO_INCOMPLETE) break;
        }
    }
    clear_errors(spi, nullptr);
    return (int32_t)*count;
}

int32_t SerialRead(SerialPortInfo* spi, void* buffer, int32_t count, int whole) {
    if (spi->hComm == INVALID_HANDLE_VALUE) return 0;
    COMSTAT stat = {};
    clear_errors(spi, &stat);
    if (!whole && (int64_t)count > (int64_t)stat.cbInQue) count = (int32_t)stat.cbInQue;
    if (count <= 0) return 0;
    DWORD done = 0;
    if (ReadFile(spi->hComm, buffer, (DWORD)count, &done, &spi->olRead)) return (int32_t)done;
    return finish_transfer(spi, &spi->olRead, &done);
}

int32_t SerialWrite(SerialPortInfo* spi, const void* buffer, DWORD count) {
    if (spi->hComm == INVALID_HANDLE_VALUE) return 0;
    DWORD done = 0;
    if (WriteFile(spi->hComm, buffer, count, &done, &spi->olWrite)) return (int32_t)done;
    return finish_transfer(spi, &spi->olWrite, &done);
}
