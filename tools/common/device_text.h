// Simulated devices as text: a table header and one row per device, with
// colour swatches on terminals that show them.
#pragma once

#include <string>

#include "sim/device_model.h"
#include "tools/common/terminal.h"

namespace tivtools {

// Table header and one row per device; `changed` marks a row with '*'.
std::string device_header();
std::string device_row(const tivsim::DeviceState& d, ColourSupport colour, bool changed);

// Whether anything a user sees in the table differs.
bool device_differs(const tivsim::DeviceState& a, const tivsim::DeviceState& b);

}  // namespace tivtools
