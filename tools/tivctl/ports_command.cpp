#include "tools/tivctl/ports_command.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "tools/tivctl/exit_status.h"
#include "tools/common/json.h"
#include "tools/tivctl/port_list.h"

namespace tivctl {

namespace {

using tivtools::json_string;

std::string port_json(const SerialPort& p) {
    std::string s = "{\"device\":" + json_string(p.device) + ",\"com\":" + (p.com ? std::to_string(p.com) : "null");
    s += ",\"driver\":" + json_string(p.driver);
    s += ",\"usb_id\":" + (p.usb_id.empty() ? std::string("null") : json_string(p.usb_id));
    s += ",\"manufacturer\":" + json_string(p.manufacturer) + ",\"product\":" + json_string(p.product);
    s += ",\"serial\":" + json_string(p.serial);
    return s + ",\"by_id\":" + (p.by_id.empty() ? std::string("null") : json_string(p.by_id)) + "}";
}

void print_table(const std::vector<SerialPort>& ports) {
    if (ports.empty()) {
        std::printf("no serial ports found\n");
        return;
    }
    size_t width = 6;
    for (const SerialPort& p : ports) width = std::max(width, p.device.size());
    std::printf("%-*s  COM   %-12s  %-9s  %s\n", (int)width, "device", "driver", "usb id", "description");
    for (const SerialPort& p : ports) {
        const std::string com = p.com ? "COM" + std::to_string(p.com) : "-";
        std::string about = p.manufacturer;
        if (!p.product.empty()) about += (about.empty() ? "" : " ") + p.product;
        if (!p.serial.empty()) about += " (serial " + p.serial + ")";
        char row[512];
        std::snprintf(row, sizeof row, "%-*s  %-4s  %-12s  %-9s  %s", (int)width, p.device.c_str(), com.c_str(),
                      p.driver.c_str(), p.usb_id.empty() ? "-" : p.usb_id.c_str(), about.c_str());
        std::string line = row;
        line.erase(line.find_last_not_of(' ') + 1);
        std::printf("%s\n", line.c_str());
        // The name to give tivgate and tivctl: it stays when the tty number changes.
        if (!p.by_id.empty()) std::printf("%-*s  %s\n", (int)width, "", p.by_id.c_str());
    }
}

}  // namespace

int run_ports(const PortListRoots& roots, bool json) {
    const std::vector<SerialPort> ports = list_serial_ports(roots);
    if (json) {
        std::string s = "{\"ports\":[";
        for (size_t i = 0; i < ports.size(); i++) s += (i ? "," : "") + port_json(ports[i]);
        std::printf("%s]}\n", s.c_str());
    } else {
        print_table(ports);
    }
    return kExitOk;
}

}  // namespace tivctl
