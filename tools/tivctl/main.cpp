// tivctl: a command-line host of the tivlink library.
#include <cstdio>
#include <exception>

#include "tools/tivctl/bus_command.h"
#include "tools/tivctl/cli.h"
#include "tools/tivctl/demo.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/monitor_command.h"

int main(int argc, char** argv) {
    using namespace tivctl;
    Request request;
    if (std::optional<int> status = parse_command_line(argc, argv, request)) return *status;
    try {
        switch (request.mode) {
        case Mode::monitor: return run_monitor(request.monitor, request.port, request.baud);
        case Mode::demo: return run_demo(request);
        case Mode::operation: return run_on_bus(request);
        }
    } catch (const std::exception& e) {
        // The simulated bus or a pty could not be set up.
        std::fprintf(stderr, "tivctl: %s\n", e.what());
    }
    return kExitFailed;
}
