// Test seam of the POSIX stand-in. Linked into the static library that the
// tests use; the shared library exports none of it.
#pragma once

#include "platform/posix/win32_api.h"

// Services that can be made to fail on demand.
enum PlatformCall {
    PC_CreateFileA,
    PC_CreateEventA,
    PC_CreateThread,
    PC_Calloc,
    PC_GetCommState,
    PC_SetCommState,
    PC_SetupComm,
    PC_GetCommTimeouts,
    PC_SetCommTimeouts,
    PC_SetCommMask,
    PC_WaitCommEvent,
    PC_ReadFile,
    PC_WriteFile,
    PC_GetOverlappedResult,
    PC_ClearCommError,
    PC_PurgeComm,
    PC_EscapeCommFunction,
    PC_SetCommBreak,
    PC_ClearCommBreak,
    PC_GetCommModemStatus,
    PC_GetExitCodeThread,
    PC_GetCommMask,
    PC_SetEvent,
    PC_ResetEvent,
    PC_WaitForSingleObject,
    PC_CloseHandle,
    PC_COUNT
};

// After `skip` further calls of `call` succeed, the next `times` calls fail
// with `code` (times < 0: every call from then on).
void platform_fault_set(PlatformCall call, DWORD code, int skip, int times);
void platform_fault_clear_all(void);
// Called by the stand-in at the top of each service: true when this call
// must fail, with the code to leave as the last error.
bool platform_fault_hit(PlatformCall call, DWORD* code);

// Boxes and beeps go to these hooks instead of standard error while set.
typedef void (*PlatformBoxHook)(const char* caption, const char* text, UINT type);
typedef void (*PlatformBeepHook)(UINT type);
void platform_set_box_hook(PlatformBoxHook hook);
void platform_set_beep_hook(PlatformBeepHook hook);

// Handle records (events, threads, ports) allocated and not yet freed.
int platform_handle_records(void);

// The device a port name stands for: "COM1".."COM9" (any case, optionally
// behind the device prefix \\.\ ) map to the path in TIVLINK_COM<n> when
// that is set, else to /dev/ttyS<n-1>. False for any other name.
bool platform_com_device_path(LPCSTR name, char* path, size_t size);
