// Puts the devices of a layout (tools/common/sim_device_layout.h) on a
// simulated bus.
#pragma once

#include <vector>

#include "sim/device_model.h"
#include "tools/common/number_parse.h"
#include "tools/common/sim_device_layout.h"

namespace tivtools {

// Adds the devices in order; a repeated address is refused with a reason.
Parsed<size_t> add_sim_devices(tivsim::DeviceModel& model, const std::vector<SimDevicePlace>& layout);

}  // namespace tivtools
