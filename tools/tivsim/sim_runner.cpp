#include "tools/tivsim/sim_runner.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "sim/com_env.h"
#include "sim/sim_bus.h"
#include "tools/common/count_text.h"
#include "tools/common/device_text.h"
#include "tools/common/frame_text.h"
#include "tools/common/state_json.h"
#include "tools/common/stop_signal.h"
#include "tools/common/terminal.h"
#include "tools/tivsim/live_view.h"

namespace tivsim_tool {

namespace {

using namespace std::chrono_literals;
using tivsim::Nanos;

constexpr Nanos kRedraw = 100ms;
constexpr Nanos kLongNoise = std::chrono::hours(24);

// SIGUSR1: a blip on the devices' supply, for a host's tests of what it
// does about devices that restart behind its back.
std::atomic<bool> power_cycle_asked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
extern "C" void on_power_cycle_signal(int) { power_cycle_asked.store(true); }

void catch_power_cycle_signal() {
    struct sigaction action = {};
    action.sa_handler = on_power_cycle_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
}

size_t frame_count(const std::vector<tivsim::DecodedFrame>& log) {
    return (size_t)std::count_if(log.begin(), log.end(),
                                 [](const tivsim::DecodedFrame& f) { return f.kind != tivsim::FrameKind::noise; });
}

std::string knobs_text(const SimOptions& o) {
    char noise[48] = "off";
    if (o.noise_rate > 0) std::snprintf(noise, sizeof noise, "%g bytes/s", o.noise_rate);
    return std::string("stall ") + (o.stall ? "on" : "off") + "  echo " + (o.echo ? "on" : "off") + "  noise " + noise;
}

std::string counts_text(const tivsim::SimBus& bus, size_t frames, Nanos elapsed) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "frames %zu  bytes in %llu out %llu  %.0f s", frames,
                  (unsigned long long)bus.stats().bytes_received, (unsigned long long)bus.stats().bytes_sent,
                  std::chrono::duration<double>(elapsed).count());
    return buf;
}

void set_knobs(tivsim::SimBus& bus, const SimOptions& o) {
    if (o.stall) bus.set_stalled(true);
    if (o.echo) bus.set_echo(true);
    if (o.noise_rate > 0) {
        const Nanos duration = o.seconds > 0 ? std::chrono::duration_cast<Nanos>(std::chrono::duration<double>(o.seconds))
                                             : kLongNoise;
        bus.send_noise(o.noise_rate, duration, o.noise_seed);
    }
}

bool limit_reached(const SimOptions& o, size_t frames, Nanos elapsed) {
    if (o.frames && frames >= o.frames) return true;
    return o.seconds > 0 && elapsed >= std::chrono::duration<double>(o.seconds);
}

// Waits one round: until new log items arrive or the redraw time is up.
std::vector<tivsim::DecodedFrame> next_round(const tivsim::SimBus& bus, size_t seen) {
    bus.wait_until([seen](const std::vector<tivsim::DecodedFrame>& log) { return log.size() > seen; }, kRedraw);
    return bus.log();
}

// Prints each log item once, as it comes.
class PlainLog {
public:
    void print_new(const std::vector<tivsim::DecodedFrame>& log) {
        if (!log.empty() && !origin_) origin_ = log.front().first_time;
        for (; printed_ < log.size(); printed_++) {
            const tivsim::DecodedFrame& f = log[printed_];
            std::printf("%s\n", tivtools::frame_line(f, *origin_, previous_end_).c_str());
            previous_end_ = f.last_time;
        }
        std::fflush(stdout);
    }

private:
    size_t printed_ = 0;
    std::optional<Nanos> origin_;
    std::optional<Nanos> previous_end_;
};

void run_loop(tivsim::SimBus& bus, const SimOptions& o, const std::string& export_line) {
    const Nanos start = tivsim::monotonic_now();
    std::unique_ptr<LiveView> view;
    if (!o.plain && !o.quiet && tivtools::is_terminal(STDOUT_FILENO))
        view = std::make_unique<LiveView>(export_line, knobs_text(o));
    PlainLog plain;
    std::vector<tivsim::DecodedFrame> log;
    for (;;) {
        log = next_round(bus, log.size());
        if (power_cycle_asked.exchange(false)) {
            bus.devices().power_cycle();
            if (!view && !o.quiet) std::printf("power cycle: every device restarted, outputs dark\n");
        }
        const Nanos elapsed = tivsim::monotonic_now() - start;
        const size_t frames = frame_count(log);
        if (view)
            view->draw(bus.devices().snapshot(), tivtools::log_lines(log), counts_text(bus, frames, elapsed));
        else if (!o.quiet)
            plain.print_new(log);
        if (tivtools::stop_signal() || limit_reached(o, frames, elapsed)) return;
    }
}

void print_final(tivsim::SimBus& bus, const SimOptions& o) {
    if (o.quiet) return;
    const tivtools::ColourSupport colour = tivtools::colour_support(STDOUT_FILENO);
    std::printf("final state:\n%s\n", tivtools::device_header().c_str());
    for (const tivsim::DeviceState& d : bus.devices().snapshot())
        std::printf("%s\n", tivtools::device_row(d, colour, false).c_str());
    std::printf("%s\n", tivtools::count_text(frame_count(bus.log()), "frame").c_str());
    std::fflush(stdout);
}

// Where the final state goes; opened before the session so that a path
// that cannot be written fails at once rather than after it.
struct JsonOutput {
    bool open(const std::string& path) {
        if (path.empty() || path == "-") return true;
        file.open(path);
        return (bool)file;
    }
    std::ofstream file;
};

bool write_json(tivsim::SimBus& bus, const SimOptions& o, JsonOutput& output) {
    const tivtools::BusState state{o.com, bus.slave_path(), bus.stats(), bus.devices().snapshot(), bus.log()};
    const std::string json = tivtools::bus_state_json(state) + "\n";
    if (o.json == "-") {
        std::fputs(json.c_str(), stdout);
        std::fflush(stdout);
        return true;
    }
    output.file << json;
    output.file.close();
    if (!output.file) std::fprintf(stderr, "tivsim: cannot write %s\n", o.json.c_str());
    return (bool)output.file;
}

}  // namespace

int run_sim(const SimOptions& o) {
    tivtools::catch_stop_signals();
    catch_power_cycle_signal();
    JsonOutput json;
    if (!json.open(o.json)) {
        std::fprintf(stderr, "tivsim: cannot write %s: %s\n", o.json.c_str(), std::strerror(errno));
        return 2;
    }
    tivsim::SimBus bus;
    auto added = tivtools::add_sim_devices(bus.devices(), o.devices);
    if (!added) {
        std::fprintf(stderr, "tivsim: %s\n", added.error.c_str());
        return 1;
    }
    if (!o.capture.empty() && !bus.start_capture(o.capture)) {
        std::fprintf(stderr, "tivsim: cannot write capture file %s\n", o.capture.c_str());
        return 1;
    }
    set_knobs(bus, o);
    const std::string export_line = tivsim::com_env_name(o.com) + "=" + bus.slave_path();
    std::printf("%s\n", export_line.c_str());
    std::fflush(stdout);

    run_loop(bus, o, export_line);
    bus.stop_capture();
    print_final(bus, o);
    if (!o.json.empty() && !write_json(bus, o, json)) return 1;
    return 0;
}

}  // namespace tivsim_tool
