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

// Sends a frame as tiv_frame_send does, then keeps the line quiet for
// `pause` ms more: one sleep for the frame's own pause and the sender's, so
// a paced sequence pays one wake-up per frame, not two.
int32_t tiv_frame_send_then_pause(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len,
                                  uint32_t pause);

// The reader thread's routine: drains what arrives and drops it.
DWORD WINAPI CommReader(LPVOID parameter);

// A pause that never ends early. The pauses after one frame form a run:
// each counts from when the previous one of the run was due.
void tiv_pause(uint32_t milliseconds);

// Called by a thread of the library's own: its pauses keep the thread's
// timer slack lifted for good instead of lifting it and putting it back.
void tiv_pause_own_thread(void);

// Starts a new run of pauses: the next pause counts from its own start.
void tiv_pause_run_end(void);
// The moment a pause that starts at `now` counts from: the due time of the
// run's previous pause, or `now` for the first. Times in the caller's units.
int64_t pause_run_start(int64_t now);
// Records when the pause just ended was due.
void pause_run_note(int64_t due);
