// The executable's path and the immediate process exit.
#include <unistd.h>

#include "platform/win32.h"

// Windows cuts a long path to size-1 characters and returns size.
DWORD GetModuleFileNameA(HMODULE, LPSTR filename, DWORD size) {
    ssize_t len = size ? readlink("/proc/self/exe", filename, size) : -1;
    if (len < 0) {
        if (size) filename[0] = '\0';
        SetLastError(size ? ERROR_GEN_FAILURE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((DWORD)len < size) {
        filename[len] = '\0';
        return (DWORD)len;
    }
    filename[size - 1] = '\0';
    SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
    return size;
}

void ExitProcess(UINT exit_code) { _exit((int)exit_code); }
