#include "tools/tivctl/bus_command.h"

#include <cstdio>

#include "tivlink.h"
#include "tools/tivctl/download_command.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/operations.h"
#include "tools/tivctl/resources.h"

namespace tivctl {

namespace {

// The loader's window from 16 also holds bytes the setup sequences own; an
// image may mean to write them, so this warns and goes on.
void warn_of_owned_bytes() {
    const struct {
        uint32_t address;
        const char* what;
    } owned[] = {{18, "the group: the device takes it at the closing reset"}, {198, "the firmware-reset byte"}};
    for (const auto& o : owned)
        if (o.address >= e2_adr && o.address - e2_adr < e2_len)
            std::fprintf(stderr, "tivctl: warning: the image covers EEPROM byte %u, %s (see docs/eeprom.md)\n",
                         (unsigned)o.address, o.what);
}

}  // namespace

int run_on_bus(const Request& r, const std::function<void()>& on_closed) {
    // A bad image file is reported before the port is touched.
    if (r.op.kind == OpKind::download) {
        if (load_e2_file(r.op.file.c_str()) != 0) return kExitFailed;
        warn_of_owned_bytes();
    }

    const ProcessResources before = process_resources();
    if (init_tiv3(r.port, (int32_t)r.baud) != 0) return kExitFailed;
    const int status =
        r.op.kind == OpKind::download
            ? run_download(r.op.address, std::chrono::milliseconds((long long)(r.progress_interval * 1000)),
                           r.json ? stderr : stdout)
            : run_operation(r.op, r.json);
    exit_tiv3();
    if (r.json && r.op.kind == OpKind::download) print_result_json(r.op, status);
    const ProcessResources after = process_resources();

    if (r.report_resources)
        std::fprintf(stderr, "resources: fds %d -> %d, threads %d -> %d\n", before.fds, after.fds, before.threads,
                     after.threads);
    if (on_closed) on_closed();
    return status;
}

}  // namespace tivctl
