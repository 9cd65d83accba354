// The event loop: everything but the bus, on the main thread, in OLA's
// select server. olad's connection and its DMX, the signals (a signalfd),
// the reload, the source's silence, the status line, the watchdog's pings
// and the control socket with its override's timer are each a descriptor or
// a timer here; with a static scene and no watchdog it wakes every few
// seconds at most.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <ola/io/Descriptor.h>
#include <ola/io/SelectServer.h>

#include "tools/tivgate/bus_loop.h"
#include "tools/tivgate/control.h"
#include "tools/tivgate/control_socket.h"
#include "tools/tivgate/gateway.h"
#include "tools/tivgate/notify.h"
#include "tools/tivgate/ola_source.h"
#include "tools/tivgate/source_watch.h"
#include "tools/tivgate/status_line.h"

namespace tivgate {

class EventLoop {
public:
    // `signals` are blocked in every thread already; the loop takes them.
    // `control`: the control socket, listening already; none without --control.
    // `reloaded` hears of each patch a reload puts in force.
    EventLoop(const sigset_t& signals, std::string patch_path, Gateway& gateway, const BusLoop& bus,
              ola::network::IPV4SocketAddress olad, std::optional<UnixListener> control, StatusContext context,
              std::function<void(const Patch&)> reloaded);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Runs until SIGINT or SIGTERM, and returns which.
    int run();

private:
    void take_signals();
    void reload();
    void dmx(unsigned universe, std::span<const uint8_t> slots);
    void arm_silence();
    void silence_due();
    void publish_source();
    void status_now();
    bool status_due();
    bool watchdog_due();

    const std::string patch_path_;
    Gateway& gateway_;
    const std::function<void(const Patch&)> reloaded_;
    const BusLoop& bus_;
    ola::io::SelectServer ss_;
    int signal_fd_;
    ola::io::UnmanagedFileDescriptor signals_;
    OlaSource source_;
    SourceWatch watch_;
    ola::thread::timeout_id silence_timer_ = ola::thread::INVALID_TIMEOUT;
    StatusReporter status_;
    const std::optional<std::chrono::microseconds> watchdog_;
    int stop_signal_ = 0;
    Control control_;
    std::optional<ControlSocket> control_socket_;  // after control_, which it answers with
};

ola::TimeInterval ola_interval(Clock::duration d);

// "universe 1, 4 fixtures (1 groups, 3 devices), 1 declared group"
std::string describe(const Patch& patch);

}  // namespace tivgate
