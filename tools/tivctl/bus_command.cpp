#include "tools/tivctl/bus_command.h"

#include <cstdio>

#include "tivlink.h"
#include "tools/tivctl/download_command.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/operations.h"
#include "tools/tivctl/resources.h"

namespace tivctl {

int run_on_bus(const Request& r, const std::function<void()>& on_closed) {
    // A bad image file is reported before the port is touched.
    if (r.op.kind == OpKind::download && load_e2_file(r.op.file.c_str()) != 0) return kExitFailed;

    const ProcessResources before = process_resources();
    if (init_tiv3(r.port, (int32_t)r.baud) != 0) return kExitFailed;
    const int status =
        r.op.kind == OpKind::download
            ? run_download(r.op.address, std::chrono::milliseconds((long long)(r.progress_interval * 1000)))
            : run_operation(r.op);
    exit_tiv3();
    const ProcessResources after = process_resources();

    if (r.report_resources)
        std::fprintf(stderr, "resources: fds %d -> %d, threads %d -> %d\n", before.fds, after.fds, before.threads,
                     after.threads);
    if (on_closed) on_closed();
    return status;
}

}  // namespace tivctl
