#include "tools/tivctl/worker_join.h"

#include "tivlink.h"

namespace tivctl {

int32_t join_download_worker(void* worker) { return tiv_thread_join(worker); }

}  // namespace tivctl
