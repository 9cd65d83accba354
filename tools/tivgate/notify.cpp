#include "tools/tivgate/notify.h"

#include <systemd/sd-daemon.h>

namespace tivgate {

void notify_ready() { sd_notify(0, "READY=1"); }

void notify_status(const std::string& text) { sd_notify(0, ("STATUS=" + text).c_str()); }

void notify_stopping() { sd_notify(0, "STOPPING=1"); }

void notify_watchdog() { sd_notify(0, "WATCHDOG=1"); }

std::optional<std::chrono::microseconds> watchdog_every() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return std::nullopt;
    return std::chrono::microseconds(usec / 2);
}

}  // namespace tivgate
