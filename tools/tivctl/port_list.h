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
    int com = 0;  // the COM number the library opens it as; 0: none of COM1..COM9
};

// Linux: `sysfs_root` stands for /sys, so that a test can hand it a tree
// of its own. Windows ignores it.
std::vector<SerialPort> list_serial_ports(const std::string& sysfs_root);

}  // namespace tivctl
