#include "diagnostics/diagnostics.h"
#include "serial/serial.h"

BOOL SerialStartCommThread(SerialPortInfo* spi, LPTHREAD_START_ROUTINE routine, void* parameter) {
    if (spi->hThread) {
        serial_set_last_error(spi, ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    serial_set_last_error(spi, 0);
    spi->hThread = CreateThread(nullptr, 0, routine, parameter, 0, &spi->dwThreadId);
    TIV_ASSERT(spi->hThread);
    return TRUE;
}

DWORD SerialStopCommThread(SerialPortInfo* spi) {
    serial_set_last_error(spi, 0);
    // Any change of the mask completes the reader's pending wait with an
    // empty mask, which is its signal to end.
    SetCommMask(spi->hComm, 0);
    DWORD code = 0;
    if (!spi->hThread) return code;
    // Polled rather than waited on: the reader ends within one wake-up.
    while (GetExitCodeThread(spi->hThread, &code) && code == STILL_ACTIVE) Sleep(0);
    CloseHandle(spi->hThread);
    spi->hThread = nullptr;
    spi->dwThreadId = 0;
    return code;
}
