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
void notify_watchdog();

// Half the watchdog's time when systemd set WATCHDOG_USEC for this process:
// how often it wants to hear from us.
std::optional<std::chrono::microseconds> watchdog_every();

// The event loop pings; it vouches for the bus thread too, which is either
// asleep or inside one library call: a call that has run longer than the
// ping interval is stuck (a look takes well under a second, closing the
// port half of one), and then no ping goes out, so that systemd restarts us.
inline bool bus_alive(std::optional<std::chrono::steady_clock::time_point> in_call_since,
                      std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration every) {
    return !in_call_since || now - *in_call_since < every;
}

}  // namespace tivgate
