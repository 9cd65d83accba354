// One look onto the bus through the library: set_rgbx for an rgbw fixture,
// fade_rgbx for rgbw-fade, to a device, a group fixture or a declared group.
#pragma once

#include "tools/tivgate/schedule.h"

namespace tivgate {

// True when every frame of the look was written whole.
bool send_look(const Job& job);

}  // namespace tivgate
