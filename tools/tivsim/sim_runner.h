// Runs the simulated bus until a stop signal or a limit: the live view on a
// terminal, plain log lines otherwise; then the final state.
#pragma once

#include "tools/tivsim/options.h"

namespace tivsim_tool {

// Exit status: 0 after a clean stop, 1 when the bus could not be set up or
// the final state not written, 2 when the --json file cannot be created.
int run_sim(const SimOptions& options);

}  // namespace tivsim_tool
