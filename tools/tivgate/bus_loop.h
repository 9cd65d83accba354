// The bus thread: the only caller of the library. Takes fixtures from the
// scheduler one at a time, sends each look whole, watches the source for
// silence, and returns once a stop is asked and the look in hand is out.
#pragma once

#include "tools/tivgate/patch.h"
#include "tools/tivgate/scheduler.h"

namespace tivgate {

// Sends until scheduler.stop(); the connection is open already.
void run_bus(const Patch& patch, Scheduler& scheduler);

// One look onto the bus: 0, or -1 when a frame of it was not written whole.
int send_look(const Fixture& fixture, const Look& look);

}  // namespace tivgate
