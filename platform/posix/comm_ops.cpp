// Pending port operations: how reads, writes and event waits move on and
// complete. Everything here runs under the port lock, in whichever thread
// found the device ready: the caller's at submission, else the I/O thread.
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/posix/clock.h"
#include "platform/posix/comm_port.h"
#include "platform/posix/errno_map.h"

PortRecord* port_enter(HANDLE handle) {
    PortRecord* port = (PortRecord*)handle_acquire(handle, HANDLE_PORT);
    if (port) {
        pthread_mutex_lock(&port->lock);
        if (!port->closing) return port;
        pthread_mutex_unlock(&port->lock);
        handle_release(&port->h);
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

void port_leave(PortRecord* port) {
    pthread_mutex_unlock(&port->lock);
    handle_release(&port->h);
}

static void queue_push(PortOpQueue* queue, PortOp* op) {
    if (queue->tail) queue->tail->next = op;
    else queue->head = op;
    queue->tail = op;
}

static PortOp* queue_pop(PortOpQueue* queue) {
    PortOp* op = queue->head;
    queue->head = op->next;
    if (!queue->head) queue->tail = nullptr;
    op->next = nullptr;
    return op;
}

BOOL overlapped_outcome(OVERLAPPED* ov, DWORD* transferred) {
    DWORD status = (DWORD)__atomic_load_n(&ov->Internal, __ATOMIC_ACQUIRE);
    DWORD count = (DWORD)__atomic_load_n(&ov->InternalHigh, __ATOMIC_RELAXED);
    if (transferred) *transferred = count;
    if (status == ERROR_SUCCESS) return TRUE;
    SetLastError(status);
    return FALSE;
}

void port_op_complete(PortRecord* port, PortOp* op, DWORD status, DWORD count) {
    OVERLAPPED* ov = op->ov;
    __atomic_store_n(&ov->InternalHigh, (ULONG_PTR)count, __ATOMIC_RELAXED);
    // From this store on, the OVERLAPPED is the caller's again.
    __atomic_store_n(&ov->Internal, (ULONG_PTR)status, __ATOMIC_RELEASE);
    if (op->event) {
        waitable_set(op->event->waitable);
        handle_release(op->event);
    }
    pthread_cond_broadcast(&port->completed);
    free(op);
}

void port_abort_queue(PortRecord* port, PortOpQueue* queue, DWORD status) {
    while (queue->head) {
        PortOp* op = queue_pop(queue);
        port_op_complete(port, op, status, op->done);
    }
}

static void read_start(PortRecord* port, PortOp* op, int64_t now) {
    const COMMTIMEOUTS* t = &port->timeouts;
    op->started = true;
    if (t->ReadIntervalTimeout == MAXDWORD && t->ReadTotalTimeoutMultiplier == 0 &&
        t->ReadTotalTimeoutConstant == 0) {
        op->mode = READ_AT_ONCE;
    } else if (t->ReadIntervalTimeout == MAXDWORD && t->ReadTotalTimeoutMultiplier == MAXDWORD &&
               t->ReadTotalTimeoutConstant != 0 && t->ReadTotalTimeoutConstant != MAXDWORD) {
        op->mode = READ_FIRST_BYTE;
        op->deadline = deadline_after_ms(now, t->ReadTotalTimeoutConstant);
    } else {
        op->mode = READ_COUNTED;
        uint64_t total = (uint64_t)t->ReadTotalTimeoutMultiplier * op->count + t->ReadTotalTimeoutConstant;
        if (total) op->deadline = deadline_after_ms(now, total);
        if (t->ReadIntervalTimeout != 0 && t->ReadIntervalTimeout != MAXDWORD)
            op->interval = (int64_t)t->ReadIntervalTimeout * NS_PER_MS;
    }
}

// Reads what the device has; 0 or the Win32 error that ends the read.
static DWORD read_available(PortRecord* port, PortOp* op, int64_t now) {
    while (op->done < op->count) {
        ssize_t n = read(port->fd, op->buffer + op->done, op->count - op->done);
        if (n > 0) {
            op->done += (DWORD)n;
            op->last_byte = now;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return 0;
        } else {
            // End of file or EIO: the other end of the line has gone.
            if (n == 0 || errno == EIO) port->hung_up = true;
            return n == 0 ? ERROR_GEN_FAILURE : win32_error_from_errno(errno);
        }
    }
    return 0;
}

// True when it completed the read.
static bool read_step(PortRecord* port, PortOp* op, int64_t now) {
    if (!op->started) read_start(port, op, now);
    DWORD error = read_available(port, op, now);
    bool finished = error || op->done == op->count || op->mode == READ_AT_ONCE ||
                    (op->mode == READ_FIRST_BYTE && op->done > 0) ||
                    (op->deadline && now >= op->deadline) ||
                    (op->interval && op->done > 0 && now - op->last_byte >= op->interval);
    if (!finished) return false;
    queue_pop(&port->reads);
    // Bytes already taken are delivered; the failure shows on the next read.
    if (error && op->done > 0) error = 0;
    port_op_complete(port, op, error, op->done);
    return true;
}

// Bytes the kernel has taken but not yet put on the line. On a
// pseudo-terminal the other side's input buffer is the line: TIOCOUTQ on a
// pty slave reports 0 whatever the master has not read, and flushing it
// would destroy bytes already "sent". So there, taken means sent.
static DWORD kernel_backlog(PortRecord* port) {
    DWORD queued = 0;
    if (port->pseudo_terminal || tty_output_queue(port->fd, &queued) != 0) return 0;
    return queued;
}

// Time the line needs for `bytes` characters at the current settings.
static int64_t line_time(PortRecord* port, DWORD bytes) {
    const DCB* d = &port->dcb;
    int64_t bits = 1 + d->ByteSize + (d->Parity != NOPARITY) + (d->StopBits == ONESTOPBIT ? 1 : 2);
    int64_t ns = bytes * bits * NS_PER_S / (d->BaudRate ? d->BaudRate : 1);
    return ns > NS_PER_MS ? ns : NS_PER_MS;
}

static DWORD write_available(PortRecord* port, PortOp* op) {
    while (op->done < op->count) {
        ssize_t n = write(port->fd, op->buffer + op->done, op->count - op->done);
        if (n > 0) {
            op->done += (DWORD)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN) {
            return 0;
        } else {
            if (errno == EIO) port->hung_up = true;
            return errno == EIO ? ERROR_GEN_FAILURE : win32_error_from_errno(errno);
        }
    }
    return 0;
}

static void write_finish(PortRecord* port, DWORD status, DWORD count) {
    PortOp* op = queue_pop(&port->writes);
    // The transmit queue has run empty when no other write follows.
    if (status == ERROR_SUCCESS && !port->writes.head) port->history |= port->mask & EV_TXEMPTY;
    port_op_complete(port, op, status, count);
}

// A write completes once all its bytes have left the output queue, or when
// its total time-out runs out: then with the count that went out, the rest
// (also what the kernel still holds) dropped so the next write starts clean.
static bool write_step(PortRecord* port, PortOp* op, int64_t now) {
    const COMMTIMEOUTS* t = &port->timeouts;
    if (!op->started) {
        op->started = true;
        uint64_t total = (uint64_t)t->WriteTotalTimeoutMultiplier * op->count + t->WriteTotalTimeoutConstant;
        if (total) op->deadline = deadline_after_ms(now, total);
    }
    DWORD error = write_available(port, op);
    if (error) {
        write_finish(port, error, op->done);
        return true;
    }
    bool timed_out = op->deadline && now >= op->deadline;
    bool all_taken = op->done == op->count;
    DWORD backlog = all_taken || timed_out ? kernel_backlog(port) : 0;
    if (all_taken && backlog == 0) {
        write_finish(port, ERROR_SUCCESS, op->done);
        return true;
    }
    if (timed_out) {
        if (backlog) tty_flush(port->fd, false, true);
        write_finish(port, ERROR_SUCCESS, op->done - (backlog < op->done ? backlog : op->done));
        return true;
    }
    op->drain_check = all_taken ? now + line_time(port, backlog) : 0;
    return false;
}

// EV_RXCHAR is level-triggered, unlike Windows, which reports each arrival
// once: it holds while received bytes wait, so a reader that takes only part
// of them is woken again for the rest. Bytes a pending ReadFile has already
// taken raise no EV_RXCHAR. Line and modem-line events are not reported:
// the only waiter, the reader, drops every event but EV_RXCHAR.
static void wait_step(PortRecord* port) {
    PortOp* op = port->wait;
    DWORD events = port->history;
    DWORD queued = 0;
    if ((port->mask & EV_RXCHAR) && tty_input_queue(port->fd, &queued) == 0 && queued > 0)
        events |= EV_RXCHAR;
    if (!events && !port->hung_up) return;
    port->wait = nullptr;
    port->history = 0;
    if (!events) {
        port_op_complete(port, op, ERROR_GEN_FAILURE, 0);
        return;
    }
    *op->mask_out = events;
    port_op_complete(port, op, ERROR_SUCCESS, sizeof(DWORD));
}

void port_progress(PortRecord* port, int64_t now) {
    while (port->reads.head && read_step(port, port->reads.head, now)) {
    }
    while (port->writes.head && write_step(port, port->writes.head, now)) {
    }
    if (port->wait) wait_step(port);
}

int64_t port_op_next_check(const PortOp* op) {
    if (!op) return 0;
    int64_t next = op->deadline;
    int64_t other = 0;
    if (op->kind == OP_READ && op->interval && op->done > 0) other = op->last_byte + op->interval;
    if (op->kind == OP_WRITE) other = op->drain_check;
    if (other && (!next || other < next)) next = other;
    return next;
}

BOOL port_submit(PortRecord* port, PortOp* op, OVERLAPPED* ov, DWORD* transferred, bool force_async) {
    OVERLAPPED own = {};
    OVERLAPPED* target = ov ? ov : &own;
    bool wait_here = !ov || !port->overlapped;
    if (ov && ov->hEvent) {
        op->event = handle_acquire(ov->hEvent, HANDLE_EVENT);
        if (!op->event) {
            free(op);
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        waitable_reset(op->event->waitable);
    }
    op->ov = target;
    __atomic_store_n(&target->InternalHigh, 0, __ATOMIC_RELAXED);
    __atomic_store_n(&target->Internal, STATUS_PENDING, __ATOMIC_RELEASE);
    if (op->kind == OP_READ) queue_push(&port->reads, op);
    else if (op->kind == OP_WRITE) queue_push(&port->writes, op);
    else port->wait = op;
    if (!force_async) port_progress(port, monotonic_ns());
    if (!HasOverlappedIoCompleted(target)) {
        port_io_notify(port);
        if (!wait_here) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        // Ends at the latest when a purge or CloseHandle aborts the operation.
        while (!HasOverlappedIoCompleted(target)) pthread_cond_wait(&port->completed, &port->lock);
    }
    return overlapped_outcome(target, transferred);
}
