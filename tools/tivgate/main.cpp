// tivgate: patches DMX slots from olad onto the tivlink bus.
//
// Three threads: the main thread parses, opens the port and then only waits
// for SIGINT or SIGTERM; the source thread runs OLA's select server; the bus
// thread makes every library call. They meet in the Scheduler.
#include <signal.h>
#include <tivlink.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "sim/com_env.h"
#include "tools/tivctl/sim_session.h"
#include "tools/tivgate/bus_loop.h"
#include "tools/tivgate/log.h"
#include "tools/tivgate/ola_source.h"
#include "tools/tivgate/options.h"
#include "tools/tivgate/patch.h"
#include "tools/tivgate/scheduler.h"
#include "tools/tivgate/sim_layout.h"

#include <ola/Logging.h>

namespace {

using namespace tivgate;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Blocked in every thread (the others inherit the mask), taken by the main
// thread alone, so no handler runs in the middle of a library call.
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

int wait_for_stop_signal(const sigset_t& set) {
    for (;;) {
        const struct timespec tick = {1, 0};  // each wait bounded; only a stop signal ends the run
        const int sig = sigtimedwait(&set, nullptr, &tick);
        if (sig > 0) return sig;
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, (size_t)(p * (double)(v.size() - 1) + 0.5));
    return v[i];
}

void print_stats(const SchedulerCounts& c) {
    std::printf("DMX frames received: %llu\n", (unsigned long long)c.frames);
    std::printf("fixture changes received: %llu\n", (unsigned long long)c.changes);
    std::printf("looks sent: %llu\n", (unsigned long long)c.sent);
    std::printf("changes coalesced: %llu\n", (unsigned long long)c.coalesced);
    std::printf("sends failed: %llu\n", (unsigned long long)c.failed);
    std::printf("latency, DMX change to first frame: median %.2f ms, p99 %.2f ms over %zu sends\n",
                percentile(c.latency_ms, 0.5), percentile(c.latency_ms, 0.99), c.latency_ms.size());
}

std::vector<Look> looks_of(const Patch& patch, std::span<const uint8_t> slots) {
    std::vector<Look> looks;
    looks.reserve(patch.fixtures.size());
    for (const Fixture& f : patch.fixtures) looks.push_back(look_from_dmx(slots, f.channel, f.mode));
    return looks;
}

int run(const Options& o, const Patch& patch, const ola::network::IPV4SocketAddress& server) {
    const sigset_t signals = stop_signals();

    std::unique_ptr<tivctl::SimSession> sim;
    if (o.sim) sim = std::make_unique<tivctl::SimSession>(o.sim_devices.empty() ? sim_layout_for(patch) : o.sim_devices, o.port);
    if (!o.device.empty()) tivsim::set_com_env(o.port, o.device);
    if (init_tiv3(o.port, o.baud) != 0) return kExitFailed;  // the library has said why

    const size_t groups = (size_t)std::count_if(patch.fixtures.begin(), patch.fixtures.end(),
                                                [](const Fixture& f) { return is_group(f.address); });
    log_line("universe %u, %zu fixtures (%zu groups, %zu devices) on COM%d at %d Bd%s, olad at %s", patch.universe,
             patch.fixtures.size(), groups, patch.fixtures.size() - groups, o.port, o.baud,
             o.sim ? " (simulated)" : "", server.ToString().c_str());

    Scheduler scheduler(patch.fixtures.size());
    std::thread bus([&] { run_bus(patch, scheduler); });
    OlaSource source(server, patch.universe, [&](std::span<const uint8_t> slots) {
        const Clock::time_point now = Clock::now();
        scheduler.offer(looks_of(patch, slots), now);
    });
    source.start();

    const int sig = wait_for_stop_signal(signals);
    log_line("%s: finishing the look in hand", sig == SIGINT ? "SIGINT" : "SIGTERM");
    source.stop();
    scheduler.stop();
    bus.join();
    exit_tiv3();
    if (o.stats) print_stats(scheduler.counts());
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
    // From the first instruction on, so that a stop signal during start-up
    // waits for its turn instead of killing the process half-way.
    const sigset_t signals = stop_signals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // olad hanging up is a reconnect, not our death
    const ParsedOptions parsed = parse_options(argc, argv);
    if (!parsed.options) return parsed.exit_status;
    const Options& o = *parsed.options;
    const PatchResult patch = read_patch(o.patch);
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
    return run(o, *patch.patch, server);
}
