// The one-line state systemd shows in `systemctl status`, renewed by the
// event loop every few seconds and sent only when it reads differently.
#pragma once

#include <string>

#include "tools/tivgate/gateway.h"

namespace tivgate {

// "bus on /dev/ttyUSB0, 16 fixtures, olad connected, DMX 40 Hz, 12345 looks
// sent", or "bus lost 12 s ago, retrying"; an override adds what it does
// ("; identify 0x010001, 8 s left").
std::string status_text(const Snapshot& s);

class StatusReporter {
public:
    void tick(const Snapshot& snapshot);

private:
    std::string last_;
};

}  // namespace tivgate
