// The one connection of the process: its port record and frame sending.
#pragma once

#include <stdint.h>

#include "serial/serial.h"

extern SerialPortInfo* spi;   // null while no connection is open
extern int32_t tiv_written;   // byte count of the last frame write

// Pauses between frames, in milliseconds.
enum : uint32_t {
    PAUSE_PHYSICAL_FRAME = 30,
    PAUSE_BEFORE_CLOSE = 500,
};

// The reader thread's routine: drains what arrives and drops it.
DWORD WINAPI CommReader(LPVOID parameter);

// A pause that never ends early.
void tiv_pause(uint32_t milliseconds);
