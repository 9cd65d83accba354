// An open serial port: the record behind a port HANDLE. Transfers run to
// completion in the calling thread; the only operation that pends is the
// event wait, and it moves on in whichever thread collects it through
// GetOverlappedResult. No thread of its own, no allocation per operation.
#pragma once

#include <pthread.h>

#include "platform/posix/handles.h"
#include "platform/posix/tty.h"

struct PortRecord {
    HandleRecord h;
    int fd;
    // Written once when a pending event wait is ended by another thread or
    // the handle closes; read empty again when the next wait is armed, so a
    // thread asleep in the wait always wakes.
    int wake_fd;
    bool pseudo_terminal;  // bytes taken by the kernel are on the "line"
    bool closing;          // atomic: set once by CloseHandle

    pthread_mutex_t write_lock;  // one write at a time, for its whole course
    pthread_mutex_t lock;        // guards every field below
    bool hung_up;
    DCB dcb;  // as last set, for the fields termios cannot hold
    COMMTIMEOUTS timeouts;
    DWORD mask;
    OVERLAPPED* wait_ov;  // the pending WaitCommEvent's, or null
    DWORD* wait_mask;     // where it reports the events
};

// A reference to the open port behind `handle`; null with
// ERROR_INVALID_HANDLE as last error when there is none.
PortRecord* port_acquire(HANDLE handle);
void port_release(PortRecord* port);
// Runs `action` with the port's lock held and leaves its error, if any, as
// the last error; the result says whether it succeeded.
BOOL port_call(HANDLE handle, DWORD (*action)(PortRecord*, void*), void* arg);

// Stores a completed operation's status and count in its OVERLAPPED, and
// reads them back as GetOverlappedResult reports them.
void overlapped_complete(OVERLAPPED* ov, DWORD status, DWORD count);
BOOL overlapped_outcome(const OVERLAPPED* ov, DWORD* transferred);

// Ends the pending event wait with `status` and `events`. Under the lock.
void port_wait_complete(PortRecord* port, DWORD status, DWORD events);
void port_wake(PortRecord* port);

// Whether a DCB is in range and something Linux terminals can carry out.
bool dcb_feasible(const DCB* dcb, bool pseudo_terminal);
