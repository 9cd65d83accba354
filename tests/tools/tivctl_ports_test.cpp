// `tivctl ports` against a sysfs tree of its own: an on-board UART, an 8250 placeholder, a USB-serial
// adapter, a CDC-ACM board, a console; by-id links: two to the adapter, one left from a board gone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace fs = std::filesystem;

namespace {

class FakeSysfs {
public:
    FakeSysfs() : root_(fs::temp_directory_path() / ("tivctl-sysfs-" + std::to_string(getpid()))) {
        fs::remove_all(root_);
        // The UART behind the serial-base bus's port and controller devices.
        const std::string uart = "devices/pnp0/00:01";
        tty("ttyS0", uart + "/00:01:0/00:01:0.0/tty/ttyS0", uart + "/00:01:0/00:01:0.0", "serial-base/drivers/port");
        driver(uart + "/00:01:0", "serial-base/drivers/ctrl");
        driver(uart, "pnp/drivers/serial");
        write(uart + "/00:01:0/00:01:0.0/tty/ttyS0/type", "4");
        tty("ttyS1", "devices/platform/serial8250/tty/ttyS1", "devices/platform/serial8250", "platform/drivers/serial8250");
        write("devices/platform/serial8250/tty/ttyS1/type", "0");
        const std::string usb = "devices/pci0000:00/usb1/1-1";
        tty("ttyUSB0", usb + "/1-1:1.0/ttyUSB0/tty/ttyUSB0", usb + "/1-1:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio");
        usb_strings(usb, "0403", "6001", "FTDI", "FT232R USB UART", "A9\"x");
        const std::string board = "devices/pci0000:00/usb1/1-2";
        tty("ttyACM0", board + "/1-2:1.0/tty/ttyACM0", board + "/1-2:1.0", "usb/drivers/cdc_acm");
        usb_strings(board, "2341", "0043", "Maker", "Board", "");
        fs::create_directories(root_ / "devices/virtual/tty/tty0");
        fs::create_directory_symlink("../../devices/virtual/tty/tty0", root_ / "class/tty/tty0");
        fs::create_directories(root_ / "by-id");
        for (const char* link : {"usb-FTDI_FT232R_USB_UART_A9x-if00-port0", "usb-Other_name-if00-port0"})
            fs::create_symlink("../../ttyUSB0", root_ / "by-id" / link);
        fs::create_symlink("../../ttyACM7", root_ / "by-id/usb-Maker_Board-if00");
    }
    ~FakeSysfs() { fs::remove_all(root_); }
    std::string path() const { return root_.string(); }

private:
    void write(const std::string& file, const std::string& text) {
        fs::create_directories((root_ / file).parent_path());
        std::ofstream(root_ / file) << text << "\n";
    }
    // class/tty/NAME -> its folder; device -> the device; driver -> bus/DRIVER.
    void tty(const std::string& name, const std::string& dir, const std::string& device, const std::string& bus_driver) {
        fs::create_directories(root_ / dir);
        fs::create_directories(root_ / "class/tty");
        fs::create_directory_symlink(fs::relative(root_ / dir, root_ / "class/tty"), root_ / "class/tty" / name);
        fs::create_directory_symlink(fs::relative(root_ / device, root_ / dir), root_ / dir / "device");
        if (!fs::exists(root_ / device / "driver")) driver(device, bus_driver);
    }
    void driver(const std::string& device, const std::string& bus_driver) {
        fs::create_directories(root_ / "bus" / bus_driver);
        fs::create_directory_symlink(fs::relative(root_ / "bus" / bus_driver, root_ / device), root_ / device / "driver");
    }
    void usb_strings(const std::string& dir, const char* vid, const char* pid, const char* maker, const char* product,
                     const char* serial) {
        write(dir + "/idVendor", vid);
        write(dir + "/idProduct", pid);
        write(dir + "/manufacturer", maker);
        write(dir + "/product", product);
        if (*serial) write(dir + "/serial", serial);
    }
    fs::path root_;
};

const Env kComs = {{"TIVLINK_COM1", ""}, {"TIVLINK_COM3", "/dev/ttyUSB0"}};

TEST(TivctlPorts, ListsTheSerialPortsAsJson) {
    FakeSysfs sysfs;
    const Finished r = run_to_end({kTivctl, "ports", "--json", "--sysfs", sysfs.path(), "--by-id", sysfs.path() + "/by-id"}, kComs);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              R"({"ports":[)"
              R"({"device":"/dev/ttyACM0","com":null,"driver":"cdc_acm","usb_id":"2341:0043","manufacturer":"Maker","product":"Board","serial":"","by_id":null},)"
              R"({"device":"/dev/ttyS0","com":1,"driver":"serial","usb_id":null,"manufacturer":"","product":"","serial":"","by_id":null},)"
              R"({"device":"/dev/ttyUSB0","com":3,"driver":"ftdi_sio","usb_id":"0403:6001","manufacturer":"FTDI","product":"FT232R USB UART","serial":"A9\"x","by_id":")" +
                  sysfs.path() + "/by-id" + R"(/usb-FTDI_FT232R_USB_UART_A9x-if00-port0"}]})"
              "\n");
}

TEST(TivctlPorts, TableNamesEachPortsCom) {
    FakeSysfs sysfs;
    const Finished r = run_to_end({kTivctl, "ports", "--sysfs", sysfs.path(), "--by-id", sysfs.path() + "/by-id"}, {{"TIVLINK_COM1", "/dev/ttyACM0"}});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_NE(lines[1].find("/dev/ttyACM0  COM1  cdc_acm"), std::string::npos) << lines[1];
    // COM1 now names another device, so ttyS0 answers to none.
    EXPECT_NE(lines[2].find("/dev/ttyS0    -     serial"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("0403:6001  FTDI FT232R USB UART (serial A9\"x)"), std::string::npos) << lines[3];
    EXPECT_EQ(lines[4], "              " + sysfs.path() + "/by-id" + "/usb-FTDI_FT232R_USB_UART_A9x-if00-port0");
}

}  // namespace
