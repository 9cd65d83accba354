// An open serial port: the record behind a port HANDLE and its pending
// operations. Every field below `lock` is guarded by it. The port's I/O
// thread and the callers' threads both move operations on, always under the
// lock and only with non-blocking calls on the device.
#pragma once

#include <pthread.h>
#include <stdint.h>

#include "platform/posix/handles.h"
#include "platform/posix/tty.h"

enum PortOpKind { OP_READ, OP_WRITE, OP_WAIT };

// How a read ends, from the COMMTIMEOUTS in force when it started.
enum ReadMode {
    READ_AT_ONCE,      // with whatever is queued, possibly nothing
    READ_FIRST_BYTE,   // as soon as anything is there, or at the total time-out
    READ_COUNTED,      // when full, or at the total or interval time-out
};

// One pending ReadFile, WriteFile or WaitCommEvent. The caller's buffer,
// mask word and OVERLAPPED stay the caller's; this side writes them only
// until it stores the final status in OVERLAPPED.Internal, and never after.
struct PortOp {
    PortOp* next;
    PortOpKind kind;
    OVERLAPPED* ov;        // the caller's, or a synchronous caller's own
    HandleRecord* event;   // reference to ov->hEvent, signalled at completion; may be null
    BYTE* buffer;
    DWORD count;
    DWORD done;
    DWORD* mask_out;       // WaitCommEvent's result word
    bool started;
    ReadMode mode;
    int64_t deadline;      // total time-out, monotonic ns; 0 = none
    int64_t interval;      // read interval time-out in ns; 0 = none
    int64_t last_byte;     // when the last byte arrived
    int64_t drain_check;   // write: when to look at the output queue again; 0 = not draining
};

struct PortOpQueue {
    PortOp* head;  // the operation in progress
    PortOp* tail;
};

struct PortRecord {
    HandleRecord h;
    int fd;
    int wake_fd;  // eventfd that wakes the I/O thread
    bool overlapped;
    bool pseudo_terminal;  // bytes taken by the kernel are on the "line"
    bool has_counters;     // the device keeps interrupt counters (a real UART)
    pthread_t io_thread;
    bool io_thread_running;
    // What the I/O thread sleeps on while `io_polling`: set under the lock
    // before it lets go of it to poll, cleared once it holds it again.
    bool io_polling;
    short polled_interest;
    int64_t polled_deadline;

    pthread_mutex_t lock;
    pthread_cond_t completed;  // broadcast whenever an operation completes
    bool closing;
    bool hung_up;
    DCB dcb;  // as last set, for the fields termios cannot hold
    COMMTIMEOUTS timeouts;
    DWORD in_queue_size;
    DWORD out_queue_size;
    DWORD mask;
    DWORD history;  // events seen since the last completed wait, within mask
    TtyCounters error_base;  // counters at the last ClearCommError
    PortOpQueue reads;
    PortOpQueue writes;
    PortOp* wait;
};

// A reference to the open port behind `handle`, with its lock held; null
// with ERROR_INVALID_HANDLE as last error when there is none.
PortRecord* port_enter(HANDLE handle);
void port_leave(PortRecord* port);

// Starts an operation (already filled in, except for its OVERLAPPED and
// event) for `ov`, or for a private block when `ov` is null, moves it as far
// as it goes at once unless `force_async`, and returns as ReadFile does:
// TRUE with *transferred when it completed, FALSE with ERROR_IO_PENDING when
// it goes on in the background, FALSE with its error when it failed.
// Synchronous handles and null `ov` wait for completion. Under the lock.
BOOL port_submit(PortRecord* port, PortOp* op, OVERLAPPED* ov, DWORD* transferred, bool force_async);

// Completes `op` with a Win32 status and byte count, removing nothing from
// queues (the caller unlinks it first). Under the lock.
void port_op_complete(PortRecord* port, PortOp* op, DWORD status, DWORD count);
// Moves every pending operation on as far as the device allows.
void port_progress(PortRecord* port, int64_t now);
// Completes every queued read or write with `status`.
void port_abort_queue(PortRecord* port, PortOpQueue* queue, DWORD status);

// The I/O thread: started at open, ended at close.
bool port_io_start(PortRecord* port);
void port_io_wake(PortRecord* port);
// Wakes the I/O thread only when it does not already sleep on all that the
// pending operations need: a re-armed wait costs no hand-off. Under the lock.
void port_io_notify(PortRecord* port);
void port_io_stop(PortRecord* port);

// When the I/O thread must look again at `op` even if the device stays quiet; 0 = never.
int64_t port_op_next_check(const PortOp* op);

// The status and count an operation left in `ov`, as GetOverlappedResult
// reports them once it has completed.
BOOL overlapped_outcome(OVERLAPPED* ov, DWORD* transferred);

// Whether a DCB is in range and something Linux terminals can carry out.
// Refused everywhere: DSR flow control and sensitivity, CTS flow or RTS
// handshake alone (CRTSCTS is both), null stripping, abort on error, an
// error replacement other than NUL, holding output after sending XOFF.
// Refused on real ports only: DTR handshake and RTS toggle.
bool dcb_feasible(const DCB* dcb, bool pseudo_terminal);

// DCB fields held by termios, over the ones kept per handle in `dcb`. On a
// pseudo-terminal the character format stays as kept: termios there always
// says 8 bits without parity.
void dcb_take_line(DCB* dcb, const LineSettings* line, bool pseudo_terminal);
