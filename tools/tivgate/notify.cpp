#include "tools/tivgate/notify.h"

#include <systemd/sd-daemon.h>

namespace tivgate {

void notify_ready() { sd_notify(0, "READY=1"); }

void notify_status(const std::string& text) { sd_notify(0, ("STATUS=" + text).c_str()); }

void notify_stopping() { sd_notify(0, "STOPPING=1"); }

Watchdog::Watchdog() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
    every_ = std::chrono::microseconds(usec / 2);
    next_ = Clock::now();
}

void Watchdog::ping_if_due(Clock::time_point now) {
    if (!every_ || now < next_) return;
    sd_notify(0, "WATCHDOG=1");
    next_ = now + *every_;
}

}  // namespace tivgate
