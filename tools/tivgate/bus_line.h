// The serial line to the bus, as tivgate keeps it over months: opened by the
// name it was given (a /dev/serial/by-id/ link, a device, or the COM
// mapping), watched for the device behind that name going away or being
// replaced, and closed when it fails so that the kernel can let go of a dead
// tty and the name can lead to the adapter's new one.
//
// One owner at a time: the main thread opens it at start, the bus thread
// owns it while it runs, the main thread closes it after joining that thread.
#pragma once

#include <sys/types.h>

#include <string>

namespace tivgate {

class BusLine {
public:
    // The library opens COM<port> as TIVLINK_COM<port>, else /dev/ttyS<port-1>.
    BusLine(int port, int baud);

    const std::string& path() const { return path_; }
    // The node the path leads to now ("/dev/ttyUSB1"), or the path itself.
    std::string device() const;
    // The path leads to a character device: worth asking the library to open.
    bool present() const;
    // Opens the connection; false after the library has said why.
    bool open();
    // The path still leads to the device that was opened.
    bool still_there() const;
    void close();
    bool is_open() const { return open_; }

private:
    int port_;
    int baud_;
    std::string path_;
    dev_t opened_ = 0;
    bool open_ = false;
};

}  // namespace tivgate
