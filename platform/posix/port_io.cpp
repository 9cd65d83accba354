// ReadFile and WriteFile on a port. Both run to completion in the calling
// thread, overlapped or not, and return TRUE with the count as Windows does
// for a transfer that completed at once.
#include <errno.h>

#include "platform/posix/clock.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/port.h"
#include "platform/posix/syscalls.h"

// A stuck write looks at the handle this often, so closing it ends the write.
constexpr int64_t WRITE_RECHECK_NS = 100 * NS_PER_MS;

static BOOL transfer_result(OVERLAPPED* ov, LPDWORD transferred, DWORD status, DWORD done) {
    if (ov) overlapped_complete(ov, status, done);
    if (transferred) *transferred = done;
    if (status) SetLastError(status);
    return status == ERROR_SUCCESS;
}

// An end of file or EIO means the other end of the line has gone.
static DWORD transfer_error(ssize_t n) {
    return n == 0 || errno == EIO ? ERROR_GEN_FAILURE : win32_error_from_errno(errno);
}

// Only reads that return at once with what is queued: the library's reader
// reads what ClearCommError counted. Other read time-outs are refused.
static bool reads_at_once(const COMMTIMEOUTS* t) {
    return t->ReadIntervalTimeout == MAXDWORD && t->ReadTotalTimeoutMultiplier == 0 &&
           t->ReadTotalTimeoutConstant == 0;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED ov) {
    if (!buffer && count) return transfer_result(nullptr, transferred, ERROR_INVALID_PARAMETER, 0);
    PortRecord* port = port_acquire(file);
    if (!port) return transfer_result(nullptr, transferred, ERROR_INVALID_HANDLE, 0);
    pthread_mutex_lock(&port->lock);
    DWORD status = reads_at_once(&port->timeouts) ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
    DWORD done = 0;
    while (status == ERROR_SUCCESS && done < count) {
        ssize_t n = SYS(read)(port->fd, (BYTE*)buffer + done, count - done);
        if (n > 0) done += (DWORD)n;
        else if (n < 0 && errno == EAGAIN) break;
        else if (n < 0 && errno == EINTR) continue;
        // Bytes already taken are delivered; the failure shows on the next read.
        else if (done == 0) status = transfer_error(n);
        else break;
    }
    pthread_mutex_unlock(&port->lock);
    port_release(port);
    return transfer_result(ov, transferred, status, done);
}

// Bytes the kernel has taken but not yet put on the line. On a
// pseudo-terminal the other side's input buffer is the line: TIOCOUTQ on a
// pty slave reports 0 whatever the master has not read, and flushing it
// would destroy bytes already "sent". So there, taken means sent.
static DWORD kernel_backlog(const PortRecord* port) {
    DWORD queued = 0;
    if (port->pseudo_terminal || tty_output_queue(port->fd, &queued) != 0) return 0;
    return queued;
}

// Time the line needs for `bytes` characters at `d`'s settings, at least 1 ms.
static int64_t line_time(const DCB* d, DWORD bytes) {
    int64_t bits = 1 + d->ByteSize + (d->Parity != NOPARITY) + (d->StopBits == ONESTOPBIT ? 1 : 2);
    int64_t ns = bytes * bits * NS_PER_S / (d->BaudRate ? d->BaudRate : 1);
    return ns > NS_PER_MS ? ns : NS_PER_MS;
}

struct WriteJob {
    const BYTE* data;
    DWORD count;
    DWORD done;
    int64_t deadline;  // monotonic ns; 0: none
    DCB dcb;
};

// Sleeps until the device takes more bytes (or its queue may have drained),
// the deadline passes, or it is time to look at the handle again.
static void write_sleep(const PortRecord* port, const WriteJob* job, DWORD backlog, int64_t now) {
    int64_t until = now + (backlog ? line_time(&job->dcb, backlog) : WRITE_RECHECK_NS);
    if (until > now + WRITE_RECHECK_NS) until = now + WRITE_RECHECK_NS;
    if (job->deadline && job->deadline < until) until = job->deadline;
    pollfd device = {port->fd, (short)(job->done < job->count ? POLLOUT : 0), 0};
    timespec timeout = timespec_from_ns(until - now);
    SYS(ppoll)(&device, 1, &timeout, nullptr);
}

// A write completes once all its bytes have left the output queue, or when
// its total time-out runs out: then with the count that went out, the rest
// (also what the kernel still holds) dropped so that the next write starts
// clean. 0 or the Win32 error that ended it.
static DWORD write_through(const PortRecord* port, WriteJob* job) {
    for (;;) {
        while (job->done < job->count) {
            ssize_t n = SYS(write)(port->fd, job->data + job->done, job->count - job->done);
            if (n > 0) job->done += (DWORD)n;
            else if (n < 0 && errno == EINTR) continue;
            else if (n == 0 || errno == EAGAIN) break;
            else return transfer_error(n);
        }
        DWORD backlog = job->done == job->count ? kernel_backlog(port) : 0;
        if (job->done == job->count && backlog == 0) return ERROR_SUCCESS;
        int64_t now = monotonic_ns();
        if (job->deadline && now >= job->deadline) {
            if (backlog) tty_flush(port->fd, false, true);
            job->done -= backlog < job->done ? backlog : job->done;
            return ERROR_SUCCESS;
        }
        if (__atomic_load_n(&port->closing, __ATOMIC_ACQUIRE)) return ERROR_OPERATION_ABORTED;
        write_sleep(port, job, backlog, now);
    }
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED ov) {
    if (!buffer && count) return transfer_result(nullptr, transferred, ERROR_INVALID_PARAMETER, 0);
    PortRecord* port = port_acquire(file);
    if (!port) return transfer_result(nullptr, transferred, ERROR_INVALID_HANDLE, 0);
    WriteJob job = {(const BYTE*)buffer, count, 0, 0, {}};
    pthread_mutex_lock(&port->write_lock);
    pthread_mutex_lock(&port->lock);
    const COMMTIMEOUTS t = port->timeouts;
    job.dcb = port->dcb;
    pthread_mutex_unlock(&port->lock);
    uint64_t total = (uint64_t)t.WriteTotalTimeoutMultiplier * count + t.WriteTotalTimeoutConstant;
    if (total) job.deadline = deadline_after_ms(monotonic_ns(), total);
    DWORD status = write_through(port, &job);
    pthread_mutex_unlock(&port->write_lock);
    port_release(port);
    return transfer_result(ov, transferred, status, job.done);
}
