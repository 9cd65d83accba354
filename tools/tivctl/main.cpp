// tivctl: a command-line host of the tivlink library.
#include <cstdio>
#include <exception>

#include "tools/common/stop_signal.h"
#include "tools/tivctl/cli.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/modes.h"

int main(int argc, char** argv) {
    using namespace tivctl;
    tivtools::ignore_closed_output();
    Request request;
    if (std::optional<int> status = parse_command_line(argc, argv, request)) return *status;
    try {
        return run_request(request);
    } catch (const std::exception& e) {
        // The simulated bus or a pty could not be set up.
        std::fprintf(stderr, "tivctl: %s\n", e.what());
    }
    return kExitFailed;
}
