// The devices a --sim run puts on its bus when none are named: one at each
// patched device address (in its declared group, if any), and one member
// for each patched group fixture.
#pragma once

#include <vector>

#include "tools/common/sim_device_layout.h"
#include "tools/tivgate/patch.h"

namespace tivgate {

std::vector<tivtools::SimDevicePlace> sim_layout_for(const Patch& patch);

}  // namespace tivgate
