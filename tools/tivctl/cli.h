// tivctl's command line: global options, one sub-command per operation,
// the monitor and the demo.
#pragma once

#include <optional>

#include "tools/tivctl/request.h"

namespace tivctl {

// Fills `request`; empty when the program should go on, otherwise the exit
// status (0 after --help, kExitUsage after a one-line reason on stderr).
std::optional<int> parse_command_line(int argc, char** argv, Request& request);

}  // namespace tivctl
