// `tivctl monitor`: decodes what goes over a line into timestamped frames,
// from a serial device, from a pseudo-terminal it creates for a host to
// open, or from a capture file; can store the raw bytes as a capture file.
#pragma once

#include <cstdint>
#include <string>

namespace tivctl {

struct MonitorRequest {
    std::string device;   // serial device to listen on
    bool pty = false;     // create a pty and export it as COM<com>
    std::string read;     // capture file to decode
    std::string capture;  // write the raw bytes here
    uint64_t frames = 0;  // stop after this many frames (0: no limit)
    double seconds = 0;   // stop after this long (0: no limit)
};

// Exit status: 0 when the source ended or a limit stopped it, 128 + the
// signal after a stop signal (130: Ctrl-C), kExitUsage when the capture file
// cannot be created, kExitFailed when the source, the capture or standard
// output failed.
int run_monitor(const MonitorRequest& request, int com, uint32_t baud);

}  // namespace tivctl
