// What a tivsim command line asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/sim_layout.h"

namespace tivsim_tool {

struct SimOptions {
    int com = 1;
    std::vector<tivtools::SimDevicePlace> devices;
    bool stall = false;
    bool echo = false;
    double noise_rate = 0;  // bytes per second sent to the host; 0: none
    uint32_t noise_seed = 1;
    std::string capture;
    uint64_t frames = 0;  // exit after this many frames; 0: no limit
    double seconds = 0;   // exit after this long; 0: no limit
    std::string json;     // final state as JSON to this file; "-": standard output
    bool quiet = false;   // no log lines or final table (the export line stays)
    bool plain = false;   // plain lines even on a terminal
};

}  // namespace tivsim_tool
