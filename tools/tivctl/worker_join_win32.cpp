#include "tools/tivctl/worker_join.h"

#include <windows.h>

namespace tivctl {

int32_t join_download_worker(void* worker) {
    WaitForSingleObject(worker, INFINITE);
    DWORD code = 1;  // counted as failed frames if it cannot be read
    if (!GetExitCodeThread(worker, &code)) code = 1;
    CloseHandle(worker);
    return (int32_t)code;
}

}  // namespace tivctl
