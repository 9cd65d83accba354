// One look onto the bus through the library: set_rgbx for an rgbw fixture,
// fade_rgbx for rgbw-fade, to a device, a group fixture or a declared group.
#pragma once

#include "tools/tivgate/scheduler.h"

namespace tivgate {

// 0, or -1 when a frame of it was not written whole.
int send_look(const Job& job);

}  // namespace tivgate
