// The serial ports this machine has, for `tivctl ports`: Linux reads them
// from sysfs (port_list_linux.cpp), Windows from the registry's serial-port
// map and SetupAPI (port_list_win32.cpp).
#pragma once

#include <string>
#include <vector>

namespace tivctl {

struct SerialPort {
    std::string device;  // /dev/ttyUSB0; on Windows the COM name
    std::string driver;
    std::string usb_id;  // "0403:6001" for USB adapters, else empty
    std::string manufacturer, product, serial;  // USB strings, or Windows' friendly name as product
    std::string by_id;  // the /dev/serial/by-id/ link udev made for it, else empty (Linux)
    int com = 0;  // the COM number the library opens it as; 0: none of COM1..COM9
};

// Where Linux keeps what is listed, so that a test can hand in trees of its
// own. Windows ignores both.
struct PortListRoots {
    std::string sysfs = "/sys";
    std::string by_id = "/dev/serial/by-id";  // udev's stable names, which survive a replug
};

std::vector<SerialPort> list_serial_ports(const PortListRoots& roots);

}  // namespace tivctl
