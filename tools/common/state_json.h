// The state of a simulated bus as JSON, for scripts and other tests: its
// devices, counters and the decoded log.
#pragma once

#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/frame_decoder.h"
#include "sim/sim_bus.h"

namespace tivtools {

struct BusState {
    int com = 1;
    std::string path;  // the pty slave the host opens
    tivsim::SimBusStats stats;
    std::vector<tivsim::DeviceState> devices;
    std::vector<tivsim::DecodedFrame> log;
};

// One JSON object: "com", "path", "counts", "devices" (with EEPROM as a hex
// string), "frames" (times in ns since the first item).
std::string bus_state_json(const BusState& state);

}  // namespace tivtools
