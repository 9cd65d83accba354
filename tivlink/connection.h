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

// A pause that never ends early. The pauses after one frame form a run:
// each counts from when the previous one of the run was due.
void tiv_pause(uint32_t milliseconds);

// Starts a new run of pauses: the next pause counts from its own start.
void tiv_pause_run_end(void);
// The moment a pause that starts at `now` counts from: the due time of the
// run's previous pause, or `now` for the first. Times in the caller's units.
int64_t pause_run_start(int64_t now);
// Records when the pause just ended was due.
void pause_run_note(int64_t due);
