// The event mask and WaitCommEvent. Events that occur while no wait is
// pending are kept (within the mask) and complete the next wait at once.
#include <stdlib.h>

#include "platform/posix/comm_port.h"
#include "platform/posix/testing.h"

// Every event bit Windows defines, EV_RXCHAR through EV_EVENT2.
static const DWORD EV_ALL = 0x1FFF;

BOOL WaitCommEvent(HANDLE file, LPDWORD mask, LPOVERLAPPED ov) {
    DWORD code;
    bool force_async = false;
    if (platform_fault_hit(PC_WaitCommEvent, &code)) {
        if (code != ERROR_IO_PENDING) {
            SetLastError(code);
            return FALSE;
        }
        force_async = true;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    // One wait at a time, and only with something to wait for.
    DWORD error = !mask || port->wait || port->mask == 0 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    PortOp* op = error ? nullptr : (PortOp*)calloc(1, sizeof(PortOp));
    if (!op) {
        port_leave(port);
        SetLastError(error ? error : ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    op->kind = OP_WAIT;
    op->mask_out = mask;
    BOOL result = port_submit(port, op, ov, nullptr, force_async);
    port_leave(port);
    return result;
}

// A pending wait ends successfully with an empty mask, as on Windows.
BOOL SetCommMask(HANDLE file, DWORD mask) {
    DWORD code;
    if (platform_fault_hit(PC_SetCommMask, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    if (mask & ~EV_ALL) {
        port_leave(port);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (port->wait) {
        PortOp* wait = port->wait;
        port->wait = nullptr;
        *wait->mask_out = 0;
        port_op_complete(port, wait, ERROR_SUCCESS, sizeof(DWORD));
    }
    port->mask = mask;
    port->history = 0;
    port_io_wake(port);
    port_leave(port);
    return TRUE;
}

BOOL GetCommMask(HANDLE file, LPDWORD mask) {
    DWORD code;
    if (platform_fault_hit(PC_GetCommMask, &code)) {
        SetLastError(code);
        return FALSE;
    }
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    if (mask) *mask = port->mask;
    port_leave(port);
    if (!mask) SetLastError(ERROR_INVALID_PARAMETER);
    return mask != nullptr;
}
