// The executable's path and the immediate process exit.
#include <string.h>
#include <unistd.h>

#include "platform/win32.h"

DWORD GetModuleFileNameA(HMODULE, LPSTR filename, DWORD size) {
    if (!filename || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char path[4096];
    ssize_t len = readlink("/proc/self/exe", path, sizeof path - 1);
    if (len < 0) {
        filename[0] = '\0';
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    // Windows cuts a long path to size-1 characters and reports the cut.
    DWORD copy = (DWORD)len < size ? (DWORD)len : size - 1;
    memcpy(filename, path, copy);
    filename[copy] = '\0';
    if ((DWORD)len >= size) {
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return size;
    }
    return copy;
}

void ExitProcess(UINT exit_code) { _exit((int)exit_code); }
