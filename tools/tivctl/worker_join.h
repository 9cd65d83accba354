// Waiting for the download worker whose handle download() returned.
#pragma once

#include <cstdint>

namespace tivctl {

// Waits until the worker has ended, releases its handle and returns its
// exit code (0: every frame written whole). The worker always ends: it
// finishes its byte, sends the closing reset and stops.
int32_t join_download_worker(void* worker);

}  // namespace tivctl
