#include <stdlib.h>

#include "diagnostics/diagnostics.h"
#include "serial/serial.h"

// Write-through, overlapped, normal attributes.
static const DWORD OPEN_FLAGS = FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;

static void create_events(SerialPortInfo* spi) {
    spi->olRead.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    spi->olWrite.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    spi->olWait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    TIV_ASSERT(spi->olRead.hEvent && spi->olWrite.hEvent && spi->olWait.hEvent);
}

// Results are not looked at: a driver that refuses one default still gives
// a usable port with the others applied.
static void apply_defaults(SerialPortInfo* spi) {
    SerialSetBaudrate(spi, 9600);
    SerialSetFormat(spi, NOPARITY, 8, ONESTOPBIT);
    SerialSetHandshake(spi, 0);
    SerialSetQueues(spi, 4096, 4096);
    SerialSetReadTimeouts(spi, 0xFFFFFFFF, 0, 0);
    SerialSetWriteTimeouts(spi, 0, 1000);
    SerialSetMask(spi, EV_RXCHAR);
    SerialPurge(spi);
}

SerialPortInfo* SerialOpen(int32_t comnr) {
    char name[20];
    wsprintfA(name, "COM%d", comnr);
    HANDLE comm = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              OPEN_FLAGS, nullptr);
    if (comm == INVALID_HANDLE_VALUE) return nullptr;

    SerialPortInfo* spi = (SerialPortInfo*)tiv_calloc(1, sizeof(SerialPortInfo));
    TIV_ASSERT(spi && "Fatal Error: Out of memory!");
    spi->hComm = comm;
    spi->comnr = comnr;
    create_events(spi);
    apply_defaults(spi);
    return spi;
}

void SerialClose(SerialPortInfo* spi) {
    if (!spi) return;
    SerialStopCommThread(spi);
    SerialPurge(spi);
    CloseHandle(spi->olRead.hEvent);
    CloseHandle(spi->olWrite.hEvent);
    CloseHandle(spi->olWait.hEvent);
    CloseHandle(spi->hComm);
    free(spi);
}
