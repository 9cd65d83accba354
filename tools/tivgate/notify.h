// What systemd hears from tivgate, through sd_notify: readiness, a status
// line, the watchdog's pings and the stop. Without NOTIFY_SOCKET (not run by
// systemd, or not Type=notify) each call does nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tivgate {

void notify_ready();
void notify_status(const std::string& text);
void notify_stopping();

// The watchdog's pings, sent by the thread whose progress they vouch for:
// the bus thread, so that one stuck in a call gets the service restarted.
class Watchdog {
public:
    using Clock = std::chrono::steady_clock;
    Watchdog();  // on when systemd set WATCHDOG_USEC for this process
    // Pings when half the watchdog's time has passed since the last ping.
    void ping_if_due(Clock::time_point now);
    // When the next ping is due; max() when the watchdog is off.
    Clock::time_point next() const { return next_; }

private:
    std::optional<Clock::duration> every_;
    Clock::time_point next_ = Clock::time_point::max();
};

}  // namespace tivgate
