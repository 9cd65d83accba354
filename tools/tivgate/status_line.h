// The one-line state systemd shows in `systemctl status`, renewed by the
// event loop every few seconds and sent only when it reads differently.
#pragma once

#include <string>

#include "tools/tivgate/gateway.h"

namespace tivgate {

// "bus on /dev/ttyUSB0, 16 fixtures, olad connected, DMX 40 Hz, 12345 looks
// sent", or "bus lost 12 s ago, retrying".
std::string status_text(const Snapshot& s, double dmx_hz);

// Frames a second, from the frame count at successive looks.
class RateMeter {
public:
    double update(uint64_t count, Clock::time_point now);

private:
    uint64_t count_ = 0;
    Clock::time_point at_{};
    double rate_ = 0;
};

class StatusReporter {
public:
    void tick(const Snapshot& snapshot);

private:
    RateMeter dmx_;
    std::string last_;
};

}  // namespace tivgate
