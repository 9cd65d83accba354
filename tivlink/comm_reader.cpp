#include "tivlink/connection.h"

enum { READER_CHUNK = 100 };

DWORD WINAPI CommReader(LPVOID parameter) {
    SerialPortInfo* port = (SerialPortInfo*)parameter;
    uint8_t dropped[READER_CHUNK];
    for (;;) {
        // A wait that could not be armed would never complete: end instead,
        // so that stopping the reader always finds it gone.
        if (!SerialWaitEvent(port)) return 0;
        DWORD mask = SerialGetEvent(port, 1);
        if (mask & EV_RXCHAR) SerialRead(port, dropped, READER_CHUNK, 0);
        if (!mask) return 0;
    }
}
