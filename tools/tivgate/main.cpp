// tivgate: patches DMX slots from olad onto the tivlink bus.
//
// Three threads of its own: the bus thread, the only caller of the library
// (bus_thread.h), the main thread's event loop for everything else
// (event_loop.h), and the HTTP server's, which only reads (http_server.h).
// They meet in the Gateway.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <thread>

#include <ola/Logging.h>

#include "include/tivlink.h"
#include "sim/com_env.h"
#include "tivlink.h"
#include "tools/common/sim_session.h"
#include "tools/tivgate/bus_thread.h"
#include "tools/tivgate/event_loop.h"
#include "tools/tivgate/http_server.h"
#include "tools/tivgate/log.h"
#include "tools/tivgate/options.h"
#include "tools/tivgate/serial_line.h"
#include "tools/tivgate/sim_layout.h"
#include "tools/tivgate/stats_text.h"

namespace {

using namespace tivgate;

constexpr int kExitUsage = 2;

// Blocked in every thread (the others inherit the mask) and taken by the
// event loop alone, so no handler runs in the middle of a library call.
sigset_t handled_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, sig);
    return set;
}

int run(const Options& o, std::shared_ptr<const Patch> patch, const ola::network::IPV4SocketAddress& olad,
        std::optional<UnixListener> control) {
    // The device is named once, here, before any thread runs: the library
    // opens COM<port> as the device TIVLINK_COM<port> names.
    std::unique_ptr<tivtools::SimSession> sim;
    if (o.sim) sim = std::make_unique<tivtools::SimSession>(o.sim_devices.empty() ? sim_layout_for(*patch) : o.sim_devices, o.port);
    else if (!o.device.empty()) tivsim::set_com_env(o.port, o.device);
    SerialLine line(sim ? sim->bus().slave_path() : tivsim::com_device(o.port), o.port, o.baud);
    log_line(Priority::info, "%s on %s (COM%d) at %d Bd%s, olad at %s", describe(*patch).c_str(), line.path().c_str(),
             o.port, o.baud, o.sim ? " (simulated)" : "", olad.ToString().c_str());

    Waker waker;
    Gateway gateway(patch, [&] { waker.wake(); });
    BusLoop loop(gateway, line);
    const StatusContext context{TIVLINK_VERSION_STRING, olad.ToString(), line.path()};
    HttpServer http(gateway, context);
    // The command line's place wins over the patch's, at start and on reload.
    const auto serve = [&](const Patch& p) { http.listen(o.http.value_or(p.http.listen)); };
    serve(*patch);
    std::optional<EventLoop> events;
    events.emplace(handled_signals(), o.patch, gateway, loop, olad, std::move(control), context, serve);
    std::thread bus([&] { run_bus(loop, gateway, line, waker, notify_ready); });
    const int sig = events->run();

    notify_stopping();
    log_line(Priority::info, "%s: finishing the look in hand", sig == SIGINT ? "SIGINT" : "SIGTERM");
    gateway.stop();
    bus.join();
    events.reset();  // olad's connection goes on this thread, where it lived
    const Counts counts = gateway.counts();
    log_line(Priority::info, "stopped after %llu looks; %s", (unsigned long long)counts.sent,
             loop.state() == LineState::open ? "port closed" : "the port was closed already, with the bus lost");
    if (o.stats)
        for (const std::string& l : stats_lines(counts, gateway.snapshot(Clock::now()).latency)) std::printf("%s\n", l.c_str());
    if (sim) {
        sim->settle();
        sim->print_devices(stdout, true);
        sim->print_frames(stdout, false);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // From the first instruction on, so that a signal during start-up waits
    // for its turn instead of killing the process half-way.
    const sigset_t signals = handled_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // olad hanging up is a reconnect, not our death
    const ParsedOptions parsed = parse_options(argc, argv);
    if (!parsed.options) return parsed.exit_status;
    const Options& o = *parsed.options;
    PatchResult patch = read_patch(o.patch);
    if (!patch.patch) {
        std::fprintf(stderr, "tivgate: %s\n", patch.error.c_str());
        return kExitUsage;
    }
    ola::network::IPV4SocketAddress olad;
    if (!ola::network::IPV4SocketAddress::FromString(o.ola, &olad)) {
        std::fprintf(stderr, "tivgate: --ola %s: expected an IPv4 HOST:PORT such as 127.0.0.1:9010\n", o.ola.c_str());
        return kExitUsage;
    }
    // Before any thread: the socket's mode is set through the process's umask.
    std::optional<UnixListener> control;
    if (!o.control.empty()) {
        auto bound = UnixListener::bind(o.control);
        if (const auto* why = std::get_if<std::string>(&bound)) {
            std::fprintf(stderr, "tivgate: --control %s: %s\n", o.control.c_str(), why->c_str());
            return kExitUsage;
        }
        control.emplace(std::move(std::get<UnixListener>(bound)));
    }
    // Our own lines say what happened to olad; OLA's warnings would repeat
    // them at every try of a reconnect.
    ola::InitLogging(ola::OLA_LOG_FATAL, ola::OLA_LOG_STDERR);
    return run(o, std::make_shared<const Patch>(std::move(*patch.patch)), olad, std::move(control));
}
