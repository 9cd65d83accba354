// Per-thread last error, as Windows keeps it.
#include "platform/posix/win32_api.h"

static thread_local DWORD last_error;

DWORD GetLastError(void) { return last_error; }

void SetLastError(DWORD code) { last_error = code; }
