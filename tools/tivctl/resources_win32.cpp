#include "tools/tivctl/resources.h"

#include <windows.h>
#include <tlhelp32.h>

namespace tivctl {

static int count_threads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    int n = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self) n++;
    CloseHandle(snapshot);
    return n;
}

ProcessResources process_resources() {
    // Handles before the snapshot adds its own.
    DWORD handles = 0;
    const int fds = GetProcessHandleCount(GetCurrentProcess(), &handles) ? (int)handles : -1;
    return {fds, count_threads()};
}

}  // namespace tivctl
