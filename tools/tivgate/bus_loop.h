// The bus thread: the only caller of the library once the gateway runs.
// Takes looks from the scheduler one at a time and sends each whole, watches
// the source for silence and the line for trouble, reopens a lost line by
// its name, pings the watchdog, and returns once a stop is asked and the
// look in hand is out.
#pragma once

#include "tools/tivgate/bus_line.h"
#include "tools/tivgate/line_report.h"
#include "tools/tivgate/scheduler.h"

namespace tivgate {

// Sends until scheduler.stop(); `line` is open on entry and the bus
// thread's until it returns, open or not.
void run_bus(Scheduler& scheduler, BusLine& line, LineReport& report);

}  // namespace tivgate
