// One COM port as a heap record with overlapped I/O: a block each for the
// event wait, reads and writes, so a writer and the reader thread never
// disturb each other. Configuration calls return a truth value and leave the
// system's error code in dwLastError; nothing here shows a message except the
// fatal stops.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

struct SerialPortInfo {
    HANDLE hComm;
    HANDLE hThread;
    DWORD dwThreadId;
    DWORD dwLastError;   // informational; written by both threads
    DWORD dwCommErrors;  // informational; written by both threads
    DWORD dwEvtMask;     // filled by the pending event wait
    OVERLAPPED olWait;
    OVERLAPPED olRead;
    OVERLAPPED olWrite;
    int32_t comnr;
};

// Opening and closing.
SerialPortInfo* SerialOpen(int32_t comnr);
void SerialClose(SerialPortInfo* spi);

// Configuration.
BOOL SerialSetBaudrate(SerialPortInfo* spi, DWORD baud);
BOOL SerialSetFormat(SerialPortInfo* spi, DWORD parity, DWORD bytesize, DWORD stopbits);
BOOL SerialSetHandshake(SerialPortInfo* spi, DWORD mode);
BOOL SerialSetQueues(SerialPortInfo* spi, DWORD in_size, DWORD out_size);
BOOL SerialSetReadTimeouts(SerialPortInfo* spi, DWORD interval, DWORD multiplier, DWORD constant);
BOOL SerialSetWriteTimeouts(SerialPortInfo* spi, DWORD multiplier, DWORD constant);
BOOL SerialSetMask(SerialPortInfo* spi, DWORD mask);
BOOL SerialPurge(SerialPortInfo* spi);
BOOL SerialEscape(SerialPortInfo* spi, DWORD function);
BOOL SerialSetBreak(SerialPortInfo* spi);
BOOL SerialClearBreak(SerialPortInfo* spi);
BOOL SerialGetModemStatus(SerialPortInfo* spi, DWORD* status);

// Transfers and events.
int32_t SerialRead(SerialPortInfo* spi, void* buffer, int32_t count, int whole);
int32_t SerialWrite(SerialPortInfo* spi, const void* buffer, DWORD count);
BOOL SerialWaitEvent(SerialPortInfo* spi);
DWORD SerialGetEvent(SerialPortInfo* spi, int wait);

// Reader thread.
BOOL SerialStartCommThread(SerialPortInfo* spi, LPTHREAD_START_ROUTINE routine, void* parameter);
DWORD SerialStopCommThread(SerialPortInfo* spi);

// The informational fields are shared by the host's thread and the reader
// thread; they are written whole and never read back for a decision.
inline void serial_set_last_error(SerialPortInfo* spi, DWORD code) {
    __atomic_store_n(&spi->dwLastError, code, __ATOMIC_RELAXED);
}
inline DWORD serial_last_error(const SerialPortInfo* spi) {
    return __atomic_load_n(&spi->dwLastError, __ATOMIC_RELAXED);
}
