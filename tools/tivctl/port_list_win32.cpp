#include "tools/tivctl/port_list.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tivctl {

namespace {

// The Ports (COM & LPT) device class.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

int com_number(const std::string& name) {
    int n = 0;
    char rest = 0;
    if (std::sscanf(name.c_str(), "COM%d%c", &n, &rest) != 1) return 0;
    return n >= 1 && n <= 9 ? n : 0;
}

std::string registry_text(HKEY key, const char* value) {
    char text[256] = {};
    DWORD size = sizeof text - 1, type = 0;
    if (RegQueryValueExA(key, value, nullptr, &type, (BYTE*)text, &size) != ERROR_SUCCESS || type != REG_SZ) return {};
    return text;
}

std::string device_property(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    char text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, property, nullptr, (BYTE*)text, sizeof text - 1, nullptr))
        return {};
    return text;  // a multi-string's first entry
}

// "USB\VID_0403&PID_6001..." as "0403:6001".
std::string usb_id(const std::string& hardware_id) {
    const size_t vid = hardware_id.find("VID_"), pid = hardware_id.find("PID_");
    if (hardware_id.rfind("USB", 0) != 0 || vid == std::string::npos || pid == std::string::npos) return {};
    std::string id = hardware_id.substr(vid + 4, 4) + ":" + hardware_id.substr(pid + 4, 4);
    std::transform(id.begin(), id.end(), id.begin(), [](char c) { return (char)std::tolower((unsigned char)c); });
    return id;
}

// The friendly names and ids the device manager shows, where it has them.
void add_device_details(std::vector<SerialPort>& ports) {
    HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); i++) {
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::string name = registry_text(key, "PortName");
        RegCloseKey(key);
        for (SerialPort& p : ports) {
            if (p.device != name) continue;
            p.product = device_property(set, info, SPDRP_FRIENDLYNAME);
            p.manufacturer = device_property(set, info, SPDRP_MFG);
            p.usb_id = usb_id(device_property(set, info, SPDRP_HARDWAREID));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<SerialPort> list_serial_ports(const PortListRoots&) {
    std::vector<SerialPort> ports;
    HKEY map;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; i++) {
        char name[256];
        BYTE data[256];
        DWORD name_size = sizeof name, data_size = sizeof data - 1, type = 0;
        const LONG rc = RegEnumValueA(map, i, name, &name_size, nullptr, &type, data, &data_size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        data[data_size] = 0;
        SerialPort p;
        p.device = (const char*)data;
        p.driver = name;  // the kernel device, e.g. \Device\Serial0
        p.com = com_number(p.device);
        ports.push_back(p);
    }
    RegCloseKey(map);
    add_device_details(ports);
    std::sort(ports.begin(), ports.end(), [](const SerialPort& a, const SerialPort& b) {
        return a.device.size() != b.device.size() ? a.device.size() < b.device.size() : a.device < b.device;
    });
    return ports;
}

}  // namespace tivctl
