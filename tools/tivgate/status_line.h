// The one-line state systemd shows in `systemctl status`: sent by the main
// thread when the state changes (within its one-second tick) and every few
// seconds while it runs, so that the counts and the DMX rate stay current.
#pragma once

#include <string>

#include "tools/tivgate/line_report.h"
#include "tools/tivgate/scheduler.h"

namespace tivgate {

struct StatusFacts {
    LineView line;
    size_t fixtures = 0;
    bool olad = false;
    double dmx_hz = 0;
    uint64_t looks_sent = 0;
};

// "bus on /dev/ttyUSB0, 16 fixtures, olad connected, DMX 40 Hz, 12345 looks
// sent", or "bus lost 12 s ago, retrying".
std::string status_text(const StatusFacts& facts, Clock::time_point now);

class StatusReporter {
public:
    void tick(const Scheduler& scheduler, const LineReport& line, bool olad, Clock::time_point now);

private:
    std::string last_state_;
    Clock::time_point last_sent_{};
    uint64_t frames_ = 0;
    Clock::time_point frames_at_{};
    double hz_ = 0;
};

}  // namespace tivgate
