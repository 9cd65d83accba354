#include "tools/tivctl/port_list.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "sim/com_env.h"

namespace tivctl {

namespace {

namespace fs = std::filesystem;

std::string first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The kernel keeps a ttyS<n> for every possible 8250 UART; type 0 means
// no UART answered there.
bool is_placeholder(const std::string& name, const fs::path& tty) {
    return name.rfind("ttyS", 0) == 0 && first_line(tty / "type") == "0";
}

// The USB device is the nearest ancestor with an idVendor: the interface's
// parent for ttyACM, one more step up for the usb-serial drivers.
void add_usb_details(const fs::path& device, const fs::path& root, SerialPort& port) {
    std::error_code ec;
    fs::path at = fs::canonical(device, ec);
    for (int up = 0; !ec && up < 4 && at.has_relative_path() && at != root; up++, at = at.parent_path()) {
        if (!fs::exists(at / "idVendor")) continue;
        port.usb_id = first_line(at / "idVendor") + ":" + first_line(at / "idProduct");
        port.manufacturer = first_line(at / "manufacturer");
        port.product = first_line(at / "product");
        port.serial = first_line(at / "serial");
        return;
    }
}

// Newer kernels put a port and a controller device of the serial-base bus
// between the tty and the hardware; the hardware's driver is the telling one.
std::string driver_of(fs::path device) {
    std::error_code ec;
    for (int up = 0; up < 3; up++) {
        const fs::path driver = fs::canonical(device / "driver", ec);
        if (ec) return {};
        if (driver.parent_path().parent_path().filename() != "serial-base") return driver.filename().string();
        device = fs::canonical(device, ec).parent_path();
    }
    return {};
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    return a == b || fs::equivalent(a, b, ec);
}

int com_number(const std::string& device) {
    for (int n = 1; n <= 9; n++)
        if (same_file(tivsim::com_device(n), device)) return n;
    return 0;
}

// udev's by-id links, by the tty each points at ("../../ttyUSB0"). Only the
// link's text is read, so a test's links need no real device behind them.
std::map<std::string, std::string> by_id_links(const fs::path& dir) {
    std::map<std::string, std::string> links;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec) continue;
        const std::string tty = target.filename().string();
        const std::string link = entry.path().string();
        // Two links to one tty: the lesser name, so that every listing agrees.
        if (!links.count(tty) || link < links[tty]) links[tty] = link;
    }
    return links;
}

}  // namespace

std::vector<SerialPort> list_serial_ports(const PortListRoots& roots) {
    std::vector<SerialPort> ports;
    const fs::path root = fs::path(roots.sysfs);
    const std::map<std::string, std::string> links = by_id_links(roots.by_id);
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(root / "class" / "tty", ec)) {
        const std::string name = entry.path().filename().string();
        const fs::path device = entry.path() / "device";
        // Consoles and pseudo-terminals have no device behind them.
        if (!fs::exists(device / "driver") || is_placeholder(name, entry.path())) continue;
        SerialPort port;
        port.device = "/dev/" + name;
        port.driver = driver_of(device);
        add_usb_details(device, fs::canonical(root, ec), port);
        port.com = com_number(port.device);
        if (auto link = links.find(name); link != links.end()) port.by_id = link->second;
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPort& a, const SerialPort& b) { return a.device < b.device; });
    return ports;
}

}  // namespace tivctl
