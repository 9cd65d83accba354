// SetupComm and the COMMTIMEOUTS, kept with the handle. A new setting
// governs the transfers started after it.
#include "platform/posix/comm_port.h"
#include "platform/posix/testing.h"

static bool fault(PlatformCall call) {
    DWORD code;
    if (!platform_fault_hit(call, &code)) return false;
    SetLastError(code);
    return true;
}

// The kernel's terminal buffers have a fixed size; the requested sizes are
// only recorded.
BOOL SetupComm(HANDLE file, DWORD in_queue, DWORD out_queue) {
    if (fault(PC_SetupComm)) return FALSE;
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    port->in_queue_size = in_queue;
    port->out_queue_size = out_queue;
    port_leave(port);
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    if (fault(PC_GetCommTimeouts)) return FALSE;
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    if (timeouts) *timeouts = port->timeouts;
    port_leave(port);
    if (!timeouts) SetLastError(ERROR_INVALID_PARAMETER);
    return timeouts != nullptr;
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    if (fault(PC_SetCommTimeouts)) return FALSE;
    PortRecord* port = port_enter(file);
    if (!port) return FALSE;
    // All three read values at MAXDWORD is the one combination Windows rejects.
    bool valid = timeouts && !(timeouts->ReadIntervalTimeout == MAXDWORD &&
                               timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                               timeouts->ReadTotalTimeoutConstant == MAXDWORD);
    if (valid) port->timeouts = *timeouts;
    port_leave(port);
    if (!valid) SetLastError(ERROR_INVALID_PARAMETER);
    return valid;
}
