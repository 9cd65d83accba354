// What a tivctl command line asks for, checked and converted: every number
// here is within the range the library accepts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/control_command.h"
#include "tools/common/sim_device_layout.h"
#include "tools/tivctl/monitor_command.h"
#include "tools/tivctl/port_list.h"

namespace tivctl {

enum class OpKind { set_rgbx, fade_rgbx, reset, prog, set_serial, set_group, firmware_reset, download, send };

// One library operation; which fields count depends on `kind`.
struct Operation {
    OpKind kind = OpKind::reset;
    uint32_t address = 0;  // target: device or group
    uint32_t colour = 0;   // set-rgbx, fade-rgbx
    uint32_t value = 0;    // fade value, program number, group, new physical address (0: random)
    uint8_t command = 0;   // send
    std::vector<uint8_t> payload;  // send
    std::string file;              // download
};

enum class Mode { operation, monitor, demo, ports, gateway };

struct Request {
    Mode mode = Mode::operation;
    int port = 1;
    bool port_chosen = false;  // --port or --device given: only then may a bus operation open a port
    std::string device;        // --device: the path COM<port> stands for (Linux)
    uint32_t baud = 9600;
    bool sim = false;
    std::vector<tivtools::SimDevicePlace> sim_devices;  // empty: the default layout
    bool report_resources = false;
    bool json = false;                 // results as JSON (ports)
    PortListRoots port_roots;          // where `ports` reads the Linux ttys
    double progress_interval = 1.0;  // seconds between plain progress lines
    Operation op;
    MonitorRequest monitor;
    uint32_t demo_image_bytes = 12;
    // A running tivgate's control socket: its instance NAME or a PATH;
    // empty: the one in /run/tivgate. And what to ask it.
    std::string gateway;
    tivtools::ControlCommand control;
};

}  // namespace tivctl
