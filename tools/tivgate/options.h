// What a tivgate command line asks for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/common/sim_device_layout.h"

namespace tivgate {

struct Options {
    int port = 1;
    int baud = 9600;
    std::string patch;
    std::string ola = "127.0.0.1:9010";
    std::string device;  // a serial device path for COM<port>; empty: the usual mapping
    bool sim = false;
    std::vector<tivtools::SimDevicePlace> sim_devices;  // empty: derived from the patch
    bool stats = false;
    std::string control;  // the control socket's path; empty: none
    // Where the status page listens, over the patch's [http] listen; "": off.
    std::optional<std::string> http;
};

struct ParsedOptions {
    std::optional<Options> options;
    int exit_status = 0;  // when options is empty: 0 after --help, 2 on a refusal
};

ParsedOptions parse_options(int argc, char** argv);

}  // namespace tivgate
