// ReadFile, WriteFile and GetOverlappedResult on a port.
#include <stdlib.h>

#include "platform/posix/comm_port.h"
#include "platform/posix/testing.h"

// A fault with ERROR_IO_PENDING does not fail the call: it sends the
// transfer down the asynchronous path, where it still happens.
static BOOL transfer(PlatformCall call, PortOpKind kind, HANDLE file, void* buffer, DWORD count,
                     LPDWORD transferred, LPOVERLAPPED ov) {
    DWORD code;
    bool force_async = false;
    if (platform_fault_hit(call, &code)) {
        if (code != ERROR_IO_PENDING) {
            SetLastError(code);
            return FALSE;
        }
        force_async = true;
    }
    if (transferred) *transferred = 0;
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    PortOp* op = buffer || count == 0 ? (PortOp*)calloc(1, sizeof(PortOp)) : nullptr;
    if (!op) {
        port_leave(port);
        SetLastError(buffer || count == 0 ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    op->kind = kind;
    op->buffer = (BYTE*)buffer;
    op->count = count;
    BOOL result = port_submit(port, op, ov, transferred, force_async);
    port_leave(port);
    return result;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED ov) {
    return transfer(PC_ReadFile, OP_READ, file, buffer, count, transferred, ov);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED ov) {
    // The buffer is only read from: OP_WRITE never stores into it.
    return transfer(PC_WriteFile, OP_WRITE, file, (void*)buffer, count, transferred, ov);
}

static bool wait_for_completion(PortRecord* port, OVERLAPPED* ov) {
    if (ov->hEvent) return WaitForSingleObject(ov->hEvent, INFINITE) != WAIT_FAILED;
    // Without an event Windows waits on the file handle; here, on the port's
    // completions. Ends at the latest when a purge or close aborts the operation.
    pthread_mutex_lock(&port->lock);
    while (!HasOverlappedIoCompleted(ov)) pthread_cond_wait(&port->completed, &port->lock);
    pthread_mutex_unlock(&port->lock);
    return true;
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    DWORD code;
    if (platform_fault_hit(PC_GetOverlappedResult, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = (PortRecord*)handle_acquire(file, HANDLE_PORT);
    if (!port || !ov) {
        if (port) handle_release(&port->h);
        SetLastError(port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    bool waited = HasOverlappedIoCompleted(ov) || (wait && wait_for_completion(port, ov));
    handle_release(&port->h);
    if (!waited) {
        // The wait itself failed and left its error, or nobody is to wait.
        if (!wait) SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    // The event may have been set by someone else while the operation runs.
    if (!HasOverlappedIoCompleted(ov)) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    return overlapped_outcome(ov, transferred);
}
