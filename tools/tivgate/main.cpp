// tivgate: patches DMX slots from olad onto the tivlink bus.
//
// Three threads: the main thread parses, opens the port, and then handles
// every signal (stop, reload, stats) and the status line in one place; the
// source thread runs OLA's select server; the bus thread makes every library
// call while it runs. They meet in the Scheduler.
#include <signal.h>
#include <tivlink.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "sim/com_env.h"
#include "tools/common/sim_session.h"
#include "tools/tivgate/bus_line.h"
#include "tools/tivgate/bus_loop.h"
#include "tools/tivgate/line_report.h"
#include "tools/tivgate/log.h"
#include "tools/tivgate/notify.h"
#include "tools/tivgate/ola_source.h"
#include "tools/tivgate/options.h"
#include "tools/tivgate/patch.h"
#include "tools/tivgate/port_holder.h"
#include "tools/tivgate/scheduler.h"
#include "tools/tivgate/sim_layout.h"
#include "tools/tivgate/stats_text.h"
#include "tools/tivgate/status_line.h"

#include <ola/Logging.h>

namespace {

using namespace tivgate;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Blocked in every thread (the others inherit the mask), taken by the main
// thread alone, so no handler runs in the middle of a library call.
sigset_t handled_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&set, sig);
    return set;
}

// The next signal, or 0 after a second without one.
int next_signal(const sigset_t& set) {
    const struct timespec tick = {1, 0};
    const int sig = sigtimedwait(&set, nullptr, &tick);
    return sig > 0 ? sig : 0;
}

std::string describe(const Patch& patch) {
    const size_t groups = (size_t)std::count_if(patch.fixtures.begin(), patch.fixtures.end(),
                                                [](const Fixture& f) { return is_group(f.address); });
    std::string text = "universe " + std::to_string(patch.universe) + ", " + std::to_string(patch.fixtures.size()) +
                       " fixtures (" + std::to_string(groups) + " groups, " +
                       std::to_string(patch.fixtures.size() - groups) + " devices)";
    const size_t declared = patch.groups.size();
    if (declared) text += ", " + std::to_string(declared) + (declared == 1 ? " declared group" : " declared groups");
    return text;
}

void reload(const std::string& path, Scheduler& scheduler, OlaSource& source) {
    PatchResult read = read_patch(path);
    if (!read.patch) {
        log_line("SIGHUP: %s; keeping the running patch", read.error.c_str());
        return;
    }
    auto patch = std::make_shared<const Patch>(std::move(*read.patch));
    if (scheduler.replace(patch, Clock::now())) source.set_universe(patch->universe);
    log_line("SIGHUP: patch %s reloaded: %s", path.c_str(), describe(*patch).c_str());
}

void log_stats(const Scheduler& scheduler) {
    for (const std::string& line : stats_lines(scheduler.counts(), scheduler.latencies()))
        log_line("stats: %s", line.c_str());
}

// Opens the line at start; says who holds it when that is what stops it.
bool open_line(BusLine& line) {
    if (line.open()) return true;
    if (const auto holder = port_holder_line(line.device())) log_line("%s", holder->c_str());
    return false;
}

int run(const Options& o, std::shared_ptr<const Patch> patch, const ola::network::IPV4SocketAddress& server) {
    const sigset_t signals = handled_signals();

    std::unique_ptr<tivtools::SimSession> sim;
    if (o.sim) sim = std::make_unique<tivtools::SimSession>(o.sim_devices.empty() ? sim_layout_for(*patch) : o.sim_devices, o.port);
    if (!o.device.empty()) tivsim::set_com_env(o.port, o.device);
    BusLine line(o.port, o.baud);
    if (!open_line(line)) return kExitFailed;  // the library has said why
    notify_ready();  // the port is ours; olad may come later
    log_line("%s on %s (COM%d) at %d Bd%s, olad at %s", describe(*patch).c_str(), line.path().c_str(), o.port, o.baud,
             o.sim ? " (simulated)" : "", server.ToString().c_str());

    Scheduler scheduler(patch);
    LineReport report;
    std::thread bus([&] { run_bus(scheduler, line, report); });
    OlaSource source(server, patch->universe, [&](unsigned universe, std::span<const uint8_t> slots) {
        scheduler.offer(universe, slots, Clock::now());
    });
    source.start();

    StatusReporter status;
    int sig = 0;
    while (sig != SIGINT && sig != SIGTERM) {
        sig = next_signal(signals);
        if (sig == SIGHUP) reload(o.patch, scheduler, source);
        if (sig == SIGUSR1) log_stats(scheduler);
        status.tick(scheduler, report, source.connected(), Clock::now());
    }
    notify_stopping();
    log_line("%s: finishing the look in hand", sig == SIGINT ? "SIGINT" : "SIGTERM");
    source.stop();
    scheduler.stop();
    bus.join();
    const bool was_open = line.is_open();
    line.close();
    log_line("stopped after %llu looks; %s", (unsigned long long)scheduler.counts().sent,
             was_open ? "port closed" : "the port was closed already, with the bus lost");
    if (o.stats)
        for (const std::string& l : stats_lines(scheduler.counts(), scheduler.latencies()))
            std::printf("%s\n", l.c_str());
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
    ola::network::IPV4SocketAddress server;
    if (!ola::network::IPV4SocketAddress::FromString(o.ola, &server)) {
        std::fprintf(stderr, "tivgate: --ola %s: expected an IPv4 HOST:PORT such as 127.0.0.1:9010\n", o.ola.c_str());
        return kExitUsage;
    }
    // Our own lines say what happened to olad; OLA's warnings would repeat
    // them at every try of a reconnect.
    ola::InitLogging(ola::OLA_LOG_FATAL, ola::OLA_LOG_STDERR);
    return run(o, std::make_shared<const Patch>(std::move(*patch.patch)), server);
}
