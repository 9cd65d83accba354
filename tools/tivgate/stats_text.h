// The --stats figures as lines of "name: value", printed at exit and
// written to the log on SIGUSR1.
#pragma once

#include <string>
#include <vector>

#include "tools/tivgate/gateway.h"

namespace tivgate {

std::vector<std::string> stats_lines(const Counts& counts, const LatencyHistogram& latency);

}  // namespace tivgate
