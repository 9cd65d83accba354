// The --stats figures as lines of "name: value", printed at exit and
// written to the log on SIGUSR1.
#pragma once

#include <string>
#include <vector>

#include "tools/tivgate/scheduler.h"

namespace tivgate {

std::vector<std::string> stats_lines(const SchedulerCounts& counts, std::vector<double> latency_ms);

}  // namespace tivgate
