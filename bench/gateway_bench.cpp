// tivgate's timing: from a DMX change sent to olad to the first frame of the
// look on the bus (a group fixture, where the bus adds no pause), and the
// time for a change of every fixture of 16 and 64 devices to reach the bus,
// beside the least the protocol allows for the same frames (30 ms after each
// frame to a device). The bus is simulated in this process; tivgate runs as
// its own process with --device on the bus's pty. Needs olad on
// 127.0.0.1:9010 (tests/gateway/with_olad.sh provides one).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ola/DmxBuffer.h>
#include <ola/Logging.h>
#include <ola/client/StreamingClient.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/json_writer.h"
#include "bench/stats.h"
#include "sim/sim_bus.h"

namespace {

using namespace std::chrono_literals;
using tivsim::Nanos;

constexpr unsigned kUniverse = 7;
constexpr double kPauseMs = 30;  // after each frame to a device
constexpr int kFramesPerLook = 3;
constexpr uint8_t kLight = 0x7E;

// tivgate as a child process, stopped with SIGTERM (bounded) when done.
class Gateway {
public:
    Gateway(const std::string& binary, const std::string& device, const std::string& patch) {
        std::vector<std::string> args = {binary, "--device", device, "--patch", patch};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    }
    ~Gateway() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100; i++) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(50ms);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// A patch file for the run, removed with it.
class PatchFile {
public:
    explicit PatchFile(const std::vector<uint32_t>& addresses)
        : path_("/tmp/tivgate-bench-" + std::to_string(getpid()) + ".toml") {
        std::ofstream out(path_);
        out << "universe = " << kUniverse << "\n";
        for (size_t i = 0; i < addresses.size(); i++)
            out << "[[fixture]]\naddress = " << addresses[i] << "\nchannel = " << 1 + 4 * i << "\nmode = \"rgbw\"\n";
    }
    ~PatchFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Sends one DMX frame with every fixture's four slots set to the bytes of
// `value + fixture`, and returns when it was handed to olad.
Nanos send_frame(ola::client::StreamingClient& client, size_t fixtures, uint8_t value) {
    ola::DmxBuffer dmx;
    dmx.Blackout();
    for (size_t i = 0; i < fixtures; i++)
        for (unsigned s = 0; s < 4; s++) dmx.SetChannel((unsigned)(4 * i + s), (uint8_t)(value + i));
    const Nanos t = tivsim::monotonic_now();
    client.SendDmx(kUniverse, dmx);
    return t;
}

size_t light_frames(const std::vector<tivsim::DecodedFrame>& log) {
    size_t n = 0;
    for (const auto& f : log)
        if (f.kind == tivsim::FrameKind::ok && f.command == kLight) n++;
    return n;
}

// Waits until `n` light frames are logged; the time of the first frame after
// `from` frames, and of the last.
std::optional<std::pair<Nanos, Nanos>> frames_between(tivsim::SimBus& bus, size_t from, size_t n, Nanos timeout) {
    if (!bus.wait_until([&](const auto& log) { return light_frames(log) >= n; }, timeout)) return std::nullopt;
    std::vector<Nanos> times;
    for (const auto& f : bus.log())
        if (f.kind == tivsim::FrameKind::ok && f.command == kLight) times.push_back(f.first_time);
    return std::make_pair(times[from], times[n - 1]);
}

// Latency of a group fixture: `samples` changes, one at a time.
std::optional<tivbench::Summary> group_latency(const std::string& gate, ola::client::StreamingClient& client,
                                               int samples) {
    tivsim::SimBus bus;
    bus.devices().add_device(0x010001, 9);
    const PatchFile patch({9});
    Gateway g(gate, bus.slave_path(), patch.path());
    if (!g.started()) return std::nullopt;
    // Until tivgate has registered, frames go nowhere: repeat the first change.
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        send_frame(client, 1, (uint8_t)(i % 2 ? 1 : 2));
        up = bus.wait_frames(1, 100ms);
    }
    if (!up || !bus.wait_idle(200ms, 5s)) return std::nullopt;
    std::vector<double> ms;
    for (int i = 0; i < samples; i++) {
        const size_t before = light_frames(bus.log());
        const Nanos sent = send_frame(client, 1, (uint8_t)(10 + i % 200));
        const auto t = frames_between(bus, before, before + kFramesPerLook, 2s);
        if (!t) return std::nullopt;
        ms.push_back(std::chrono::duration<double, std::milli>(t->first - sent).count());
        std::this_thread::sleep_for(10ms);
    }
    return tivbench::summarize(ms);
}

struct Sweep {
    std::vector<double> total_ms;  // DMX sent to the last frame of the last look
    std::vector<double> first_ms;  // DMX sent to the first frame
};

// Every one of `n` devices changes in one DMX frame; how long until all are on the bus.
std::optional<Sweep> physical_sweep(const std::string& gate, ola::client::StreamingClient& client, size_t n,
                                    int runs) {
    tivsim::SimBus bus;
    std::vector<uint32_t> addresses;
    for (size_t i = 0; i < n; i++) {
        addresses.push_back(0x010001 + (uint32_t)i);
        bus.devices().add_device(addresses.back(), 0);
    }
    const PatchFile patch(addresses);
    Gateway g(gate, bus.slave_path(), patch.path());
    if (!g.started()) return std::nullopt;
    const Nanos round = std::chrono::milliseconds((int64_t)(n * 400));
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        send_frame(client, n, (uint8_t)(i % 2 ? 1 : 2));
        up = bus.wait_frames(1, 100ms);
    }
    if (!up || !bus.wait_idle(300ms, round)) return std::nullopt;
    Sweep sweep;
    for (int r = 0; r < runs; r++) {
        const size_t before = light_frames(bus.log());
        const Nanos sent = send_frame(client, n, (uint8_t)(20 + 3 * r));
        const auto t = frames_between(bus, before, before + n * kFramesPerLook, round);
        if (!t) return std::nullopt;
        sweep.first_ms.push_back(std::chrono::duration<double, std::milli>(t->first - sent).count());
        // The last frame's own 30 ms pause counts: the bus takes no frame before it ends.
        sweep.total_ms.push_back(std::chrono::duration<double, std::milli>(t->second - sent).count() + kPauseMs);
        if (!bus.wait_idle(200ms, round)) return std::nullopt;
    }
    return sweep;
}

}  // namespace

int main(int argc, char** argv) {
    std::string gate, out;
    int samples = 200, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--tivgate") gate = argv[i + 1];
        else if (k == "--out") out = argv[i + 1];
        else if (k == "--samples") samples = std::stoi(argv[i + 1]);
        else if (k == "--runs") runs = std::stoi(argv[i + 1]);
    }
    if (gate.empty() || out.empty()) {
        std::fprintf(stderr, "usage: bench_gateway --tivgate PATH --out FILE [--samples N] [--runs N]\n");
        return 2;
    }
    ola::InitLogging(ola::OLA_LOG_WARN, ola::OLA_LOG_STDERR);
    ola::client::StreamingClient::Options options;
    options.auto_start = false;
    ola::client::StreamingClient client(options);
    if (!client.Setup()) {
        std::fprintf(stderr, "bench_gateway: no olad on 127.0.0.1:9010\n");
        return 1;
    }
    tivbench::JsonWriter j;
    j.begin_object();
    const auto latency = group_latency(gate, client, samples);
    if (!latency) std::fprintf(stderr, "bench_gateway: the group latency run did not finish\n");
    else j.summary("group_latency_ms", *latency);
    j.begin_array("physical");
    bool ok = latency.has_value();
    for (size_t n : {16, 64}) {
        const auto sweep = physical_sweep(gate, client, n, runs);
        if (!sweep) {
            std::fprintf(stderr, "bench_gateway: the %zu-device run did not finish\n", n);
            ok = false;
            continue;
        }
        j.begin_object();
        j.value("devices", (double)n).value("frames", (double)(n * kFramesPerLook));
        j.value("minimum_ms", (double)n * kFramesPerLook * kPauseMs);
        j.summary("total_ms", tivbench::summarize(sweep->total_ms));
        j.summary("first_frame_ms", tivbench::summarize(sweep->first_ms));
        j.end_object();
    }
    j.end_array();
    j.end_object();
    client.Stop();
    if (!j.save(out)) return 1;
    return ok ? 0 : 1;
}
