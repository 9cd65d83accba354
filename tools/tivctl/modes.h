// What tivctl runs for a checked command line. The Linux build has every
// mode; the Windows build has the bus sub-commands only, since the simulated
// bus (--sim, demo) and the monitor need Linux's pseudo-terminals and ttys.
// modes_linux.cpp, modes_win32.cpp.
#pragma once

#include <string>

#include "tools/tivctl/request.h"

namespace tivctl {

// Why this build cannot run the request, in one line; empty when it can.
std::string unavailable_here(const Request& request);

// Runs the request; returns the exit status.
int run_request(const Request& request);

}  // namespace tivctl
