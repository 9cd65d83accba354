// tivgate's timing: from a DMX change sent to olad to the first frame of the
// look on the bus (a group fixture, where the bus adds no pause), the time
// for a change of every fixture of 16 and 64 devices to reach the bus beside
// the least the protocol allows for the same frames (30 ms after each frame
// to a device), and 64 devices in four declared groups of 16 side by side
// with the same devices patched without groups, at 115200 and 9600 baud: a
// uniform scene change, a uniform fade at 40 Hz, and a change that gives
// every device a colour of its own. The bus is simulated in this process on
// a pseudo-terminal, which passes bytes at once whatever the baud rate: the
// wire time of the frames sent (10 bits a byte) is added to each time that
// spans them, as a real line would take it before each frame's pause. tivgate
// runs as its own process with --device on the bus's pty. Needs olad on
// 127.0.0.1:9010 (tests/gateway/with_olad.sh provides one). The status
// page's share: the latency with the page polled and a scrape every second,
// and with a thousand connections that never finish a request, beside the
// same run without them, and the wake-ups of an idle server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ola/DmxBuffer.h>
#include <ola/Logging.h>
#include <ola/client/StreamingClient.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/json_writer.h"
#include "bench/stats.h"
#include "bench/thread_usage.h"
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
    Gateway(const std::string& binary, const std::string& device, const std::string& patch, int baud = 9600,
            const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {binary, "--device", device, "--patch", patch, "--baud", std::to_string(baud)};
        args.insert(args.end(), extra.begin(), extra.end());
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
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A patch file for the run, removed with it.
class PatchFile {
public:
    // `group_size` > 0 declares every run of that many devices a group,
    // numbered from 1, as the bus's devices are set up.
    explicit PatchFile(const std::vector<uint32_t>& addresses, size_t group_size = 0)
        : path_("/tmp/tivgate-bench-" + std::to_string(getpid()) + ".toml") {
        std::ofstream out(path_);
        out << "universe = " << kUniverse << "\n[bus]\nrefresh = 0\n";
        for (size_t i = 0; i < addresses.size(); i++)
            out << "[[fixture]]\naddress = " << addresses[i] << "\nchannel = " << 1 + 4 * i << "\nmode = \"rgbw\"\n";
        for (size_t first = 0; group_size && first < addresses.size(); first += group_size) {
            out << "[[group]]\naddress = " << 1 + first / group_size << "\nmembers = [";
            for (size_t i = first; i < first + group_size && i < addresses.size(); i++)
                out << (i > first ? ", " : "") << addresses[i];
            out << "]\n";
        }
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

// ---- Clients of the status page, on 127.0.0.1:9011

int connect_page() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9011);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, (const sockaddr*)&a, sizeof a) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// One GET on a connection of its own; true when answered 200.
bool get(const char* path) {
    const int fd = connect_page();
    if (fd < 0) return false;
    const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1:9011\r\nConnection: close\r\n\r\n";
    std::string answer;
    char buf[4096];
    ssize_t n = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    while (n > 0 && (n = read(fd, buf, sizeof buf)) > 0) answer.append(buf, (size_t)n);
    close(fd);
    return answer.rfind("HTTP/1.1 200", 0) == 0;
}

enum class PageLoad { none, page_and_scrapes, hanging };
const char* load_name(PageLoad l) {
    return l == PageLoad::none ? "none" : l == PageLoad::page_and_scrapes ? "page_and_scrapes" : "hanging_1000";
}

// While it lives: the page's poll of /status.json twice a second and a
// scrape of /metrics every second, or a thousand connections that sent half
// a request and nothing more.
class PageClients {
public:
    explicit PageClients(PageLoad load) {
        if (load == PageLoad::page_and_scrapes) poller_ = std::thread([this] { poll(); });
        if (load != PageLoad::hanging) return;
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
        setrlimit(RLIMIT_NOFILE, &files);
        for (int i = 0; i < 1000; i++) {
            const int fd = connect_page();
            if (fd < 0) continue;
            send(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", 34, MSG_NOSIGNAL);
            hanging_.push_back(fd);
        }
    }
    ~PageClients() {
        stop_ = true;
        if (poller_.joinable()) poller_.join();
        for (int fd : hanging_) close(fd);
    }
    int failed() const { return failed_; }

private:
    void poll() {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; !stop_; k++) {
            failed_ += !get("/status.json");
            if (k % 2 == 0) failed_ += !get("/metrics");
            std::this_thread::sleep_until(start + 500ms * (k + 1));
        }
    }
    std::atomic<bool> stop_{false};
    std::atomic<int> failed_{0};
    std::thread poller_;
    std::vector<int> hanging_;
};

// Latency of a group fixture: `samples` changes, one at a time, with the
// status page's clients of `load` at work.
std::optional<tivbench::Summary> group_latency(const std::string& gate, ola::client::StreamingClient& client,
                                               int samples, PageLoad load = PageLoad::none) {
    tivsim::SimBus bus;
    bus.devices().add_device(0x010001, 9);
    const PatchFile patch({9});
    Gateway g(gate, bus.slave_path(), patch.path());
    if (!g.started()) return std::nullopt;
    std::optional<PageClients> clients;
    // Until tivgate has registered, frames go nowhere: repeat the first change.
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        send_frame(client, 1, (uint8_t)(i % 2 ? 1 : 2));
        up = bus.wait_frames(1, 100ms);
    }
    if (!up || !bus.wait_idle(200ms, 5s)) return std::nullopt;
    clients.emplace(load);
    std::vector<double> ms;
    for (int i = 0; i < samples; i++) {
        const size_t before = light_frames(bus.log());
        const Nanos sent = send_frame(client, 1, (uint8_t)(10 + i % 200));
        const auto t = frames_between(bus, before, before + kFramesPerLook, 2s);
        if (!t) return std::nullopt;
        ms.push_back(std::chrono::duration<double, std::milli>(t->first - sent).count());
        std::this_thread::sleep_for(10ms);
    }
    if (clients->failed()) std::fprintf(stderr, "bench_gateway: %d requests to the page failed\n", clients->failed());
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

// ---- 64 devices in four groups of 16, with and without the declarations

constexpr size_t kWash = 64;
constexpr size_t kGroupSize = 16;

// A DMX frame giving device i colour(i).
template <class ColourOf>
Nanos send_colours(ola::client::StreamingClient& client, ColourOf colour) {
    ola::DmxBuffer dmx;
    dmx.Blackout();
    for (size_t i = 0; i < kWash; i++)
        for (unsigned b = 0; b < 4; b++) dmx.SetChannel((unsigned)(4 * i + b), (uint8_t)(colour(i) >> (24 - 8 * b)));
    const Nanos t = tivsim::monotonic_now();
    client.SendDmx(kUniverse, dmx);
    return t;
}

struct Wash {
    tivsim::SimBus bus;
    std::vector<uint32_t> addresses;
    int baud = 9600;
};

double ms_between(Nanos from, Nanos to) { return std::chrono::duration<double, std::milli>(to - from).count(); }

// The light frames logged from index `from` on, and their wire time at `baud`.
double wire_ms_since(const std::vector<tivsim::DecodedFrame>& log, size_t from, int baud) {
    double wire = 0;
    for (size_t i = from; i < log.size(); i++) wire += tivbench::wire_ms(log[i].wire.size(), baud);
    return wire;
}

// Every device shows `colour(i)`.
template <class ColourOf>
bool all_show(Wash& w, ColourOf colour) {
    for (size_t i = 0; i < kWash; i++) {
        const auto d = w.bus.devices().find(w.addresses[i]);
        if (!d || tivsim::Colour{(uint8_t)(colour(i) >> 24), (uint8_t)(colour(i) >> 16), (uint8_t)(colour(i) >> 8),
                                 (uint8_t)colour(i)} != d->channels)
            return false;
    }
    return true;
}

struct Change {
    double total_ms;  // DMX sent to every device showing it, wire time added
    double first_ms;  // DMX sent to the first frame
    double wire_ms;   // of total_ms, the frames' wire time: what no sender can save
};

// One scene change: waits until the line is quiet and every device shows it.
template <class ColourOf>
std::optional<Change> change(Wash& w, ola::client::StreamingClient& client, ColourOf colour) {
    const size_t before = w.bus.log().size();
    const Nanos sent = send_colours(client, colour);
    if (!w.bus.wait_idle(300ms, std::chrono::seconds(20)) || !all_show(w, colour)) return std::nullopt;
    const std::vector<tivsim::DecodedFrame> log = w.bus.log();
    if (log.size() <= before) return std::nullopt;
    const bool device_look = log.back().address > 0xFFFF;  // the bus takes nothing before its pause ends
    const double wire = wire_ms_since(log, before, w.baud);
    return Change{ms_between(sent, log.back().last_time) + (device_look ? kPauseMs : 0) + wire,
                  ms_between(sent, log[before].first_time), wire};
}

struct FadeRate {
    double slowest = 0;  // looks per second of the device that followed least
    double mean = 0;
};

// Looks per second each device followed during a 2 s fade at 40 Hz from red
// to blue.
FadeRate fade_rate(Wash& w, ola::client::StreamingClient& client) {
    const size_t before = w.bus.log().size();
    const Nanos start = tivsim::monotonic_now();
    constexpr int kSteps = 80;
    for (int k = 0; k < kSteps; k++) {
        const uint32_t c = (uint32_t)(255 - 255 * k / (kSteps - 1)) << 24 | (uint32_t)(255 * k / (kSteps - 1)) << 8;
        send_colours(client, [c](size_t) { return c; });
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      (start + std::chrono::milliseconds(25 * (k + 1)) - tivsim::monotonic_now()));
    }
    const Nanos end = tivsim::monotonic_now();
    const std::vector<tivsim::DecodedFrame> log = w.bus.log();
    std::vector<int> looks(kWash, 0);
    for (size_t i = before; i < log.size(); i++) {
        const tivsim::DecodedFrame& f = log[i];
        if (f.first_time > end || f.command != kLight || f.payload.empty() || f.payload[0] != 0x00) continue;
        for (size_t d = 0; d < kWash; d++)
            if (f.address == w.addresses[d] || f.address == 1 + d / kGroupSize) looks[d]++;
    }
    w.bus.wait_idle(300ms, std::chrono::seconds(20));
    const double seconds = std::chrono::duration<double>(end - start).count();
    double sum = 0;
    for (int n : looks) sum += n;
    return {*std::min_element(looks.begin(), looks.end()) / seconds, sum / (double)kWash / seconds};
}

struct WashResult {
    std::vector<double> uniform_ms, uniform_first_ms, uniform_wire_ms, different_ms;
    std::optional<FadeRate> fade;
};

std::optional<WashResult> wash(const std::string& gate, ola::client::StreamingClient& client, int baud, bool groups,
                               int runs) {
    Wash w;
    w.baud = baud;
    for (size_t i = 0; i < kWash; i++) {
        w.addresses.push_back(0x020001 + (uint32_t)i);
        w.bus.devices().add_device(w.addresses.back(), (uint8_t)(1 + i / kGroupSize));
    }
    const PatchFile patch(w.addresses, groups ? kGroupSize : 0);
    Gateway g(gate, w.bus.slave_path(), patch.path(), baud);
    if (!g.started()) return std::nullopt;
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        send_colours(client, [i](size_t) { return i % 2 ? 0x01010101u : 0x02020202u; });
        up = w.bus.wait_frames(1, 100ms);
    }
    if (!up || !w.bus.wait_idle(300ms, std::chrono::seconds(20))) return std::nullopt;
    WashResult r;
    for (int run = 0; run < runs; run++) {
        for (uint32_t scene : {0x00000000u, 0xFFFFFFFFu}) {  // a blackout, a full colour
            const auto c = change(w, client, [scene](size_t) { return scene; });
            if (!c) return std::nullopt;
            r.uniform_ms.push_back(c->total_ms);
            r.uniform_first_ms.push_back(c->first_ms);
            r.uniform_wire_ms.push_back(c->wire_ms);
        }
        const auto c = change(w, client, [run](size_t i) { return 0x01000000u * (uint32_t)(i + 1) + (uint32_t)run; });
        if (!c) return std::nullopt;
        r.different_ms.push_back(c->total_ms);
    }
    if (baud == 115200) r.fade = fade_rate(w, client);
    return r;
}

void write_wash(tivbench::JsonWriter& j, int baud, bool groups, const WashResult& r) {
    j.begin_object();
    j.value("baud", (double)baud).value("groups", groups).value("devices", (double)kWash);
    j.summary("uniform_ms", tivbench::summarize(r.uniform_ms));
    j.summary("uniform_first_frame_ms", tivbench::summarize(r.uniform_first_ms));
    j.summary("uniform_wire_ms", tivbench::summarize(r.uniform_wire_ms));
    j.summary("different_ms", tivbench::summarize(r.different_ms));
    if (r.fade) j.value("fade_slowest_looks_per_s", r.fade->slowest).value("fade_mean_looks_per_s", r.fade->mean);
    j.end_object();
}


// ---- What tivgate costs when nothing changes, and under a full stream

struct Cost {
    double wakeups_per_s = 0;  // context switches of all its threads
    double cpu_s_per_hour = 0;
};

Cost measure(pid_t pid, Nanos span, const char* thread = nullptr) {
    const tivbench::ProcessUsage before = tivbench::process_usage(pid, thread);
    std::this_thread::sleep_for(span);
    const tivbench::ProcessUsage after = tivbench::process_usage(pid, thread);
    const double s = std::chrono::duration<double>(span).count();
    return {(double)(after.switches - before.switches) / s, (double)(after.cpu_ns - before.cpu_ns) / 1e9 / s * 3600};
}

// 16 devices, refresh off, no watchdog: one scene, then 10 s of nothing,
// measured once the source's silence has been told. `http` is --http's
// argument ("": no server); `thread` names the threads measured (all: null).
std::optional<Cost> idle_cost(const std::string& gate, ola::client::StreamingClient& client,
                              const std::string& http = "127.0.0.1:9011", const char* thread = nullptr) {
    tivsim::SimBus bus;
    std::vector<uint32_t> addresses;
    for (size_t i = 0; i < 16; i++) addresses.push_back(0x010001 + (uint32_t)i), bus.devices().add_device(addresses.back(), 0);
    const PatchFile patch(addresses);
    Gateway g(gate, bus.slave_path(), patch.path(), 9600, {"--http", http});
    if (!g.started()) return std::nullopt;
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        send_frame(client, addresses.size(), (uint8_t)(i % 2 ? 1 : 2));
        up = bus.wait_frames(1, 100ms);
    }
    if (!up || !bus.wait_idle(500ms, 10s)) return std::nullopt;
    std::this_thread::sleep_for(4s);  // past the loss time, 3 s
    return measure(g.pid(), 10s, thread);
}

// 128 fixtures on one universe, every one changing in every frame, at 44 Hz
// for 10 s: the CPU tivgate takes, in seconds per hour.
std::optional<Cost> stream_cost(const std::string& gate, ola::client::StreamingClient& client) {
    constexpr size_t kFixtures = 128;
    tivsim::SimBus bus;
    std::vector<uint32_t> addresses;
    for (size_t i = 0; i < kFixtures; i++) addresses.push_back(0x010001 + (uint32_t)i), bus.devices().add_device(addresses.back(), 0);
    const PatchFile patch(addresses);
    Gateway g(gate, bus.slave_path(), patch.path());
    if (!g.started()) return std::nullopt;
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
        send_frame(client, kFixtures, (uint8_t)(i % 2 ? 1 : 2));
        up = bus.wait_frames(1, 100ms);
    }
    if (!up) return std::nullopt;
    std::atomic<bool> streaming{true};
    std::thread feeder([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; streaming; k++) {
            send_frame(client, kFixtures, (uint8_t)(3 + k % 200));
            std::this_thread::sleep_until(start + std::chrono::microseconds(1000000 * (k + 1) / 44));
        }
    });
    std::this_thread::sleep_for(1s);
    const Cost cost = measure(g.pid(), 10s);
    streaming = false;
    feeder.join();
    return cost;
}

void write_cost(tivbench::JsonWriter& j, const char* name, const std::optional<Cost>& c) {
    if (!c) {
        std::fprintf(stderr, "bench_gateway: the %s run did not finish\n", name);
        return;
    }
    j.begin_object(name);
    j.value("wakeups_per_s", c->wakeups_per_s).value("cpu_s_per_hour", c->cpu_s_per_hour);
    j.end_object();
}
// The status page's share: the server's idle wake-ups beside tivgate's
// without a server, and the latency with each load beside none.
bool page_share(tivbench::JsonWriter& j, const std::string& gate, ola::client::StreamingClient& client, int samples) {
    const auto with = idle_cost(gate, client), without = idle_cost(gate, client, ""),
               server = idle_cost(gate, client, "127.0.0.1:9011", "MHD-single");
    write_cost(j, "idle_with_http", with);
    write_cost(j, "idle_without_http", without);
    write_cost(j, "idle_http_thread", server);
    bool ok = with && without && server;
    j.begin_array("page_latency_ms");
    for (PageLoad load : {PageLoad::none, PageLoad::page_and_scrapes, PageLoad::hanging}) {
        const auto latency = group_latency(gate, client, samples, load);
        if (!latency) {
            std::fprintf(stderr, "bench_gateway: the latency run with %s did not finish\n", load_name(load));
            ok = false;
            continue;
        }
        j.begin_object().value("load", std::string(load_name(load)));
        j.summary("latency_ms", *latency);
        j.end_object();
    }
    j.end_array();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string gate, out;
    int samples = 200, runs = 3;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--tivgate") gate = argv[i + 1];
        else if (k == "--out") out = argv[i + 1];
        else if (k == "--samples") samples = std::stoi(argv[i + 1]);
        else if (k == "--runs") runs = std::stoi(argv[i + 1]);
        else if (k == "--only") only = argv[i + 1];
    }
    if (gate.empty() || out.empty()) {
        std::fprintf(stderr, "usage: bench_gateway --tivgate PATH --out FILE [--samples N] [--runs N] [--only cost|http]\n");
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
    bool ok = true;
    if (only != "http") {
        const std::optional<Cost> idle = idle_cost(gate, client), stream = stream_cost(gate, client);
        write_cost(j, "idle", idle);
        write_cost(j, "stream_44hz_128", stream);
        ok = idle && stream;
    }
    if (only.empty() || only == "http") ok = page_share(j, gate, client, samples) && ok;
    if (!only.empty()) {
        j.end_object();
        client.Stop();
        return j.save(out) && ok ? 0 : 1;
    }
    const auto latency = group_latency(gate, client, samples);
    if (!latency) std::fprintf(stderr, "bench_gateway: the group latency run did not finish\n");
    else j.summary("group_latency_ms", *latency);
    j.begin_array("physical");
    ok = latency.has_value() && ok;
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
    j.begin_array("groups");
    for (int baud : {115200, 9600}) {
        for (bool groups : {false, true}) {
            const auto r = wash(gate, client, baud, groups, runs);
            if (!r) {
                std::fprintf(stderr, "bench_gateway: the %s run at %d baud did not finish\n",
                             groups ? "group" : "device", baud);
                ok = false;
                continue;
            }
            write_wash(j, baud, groups, *r);
        }
    }
    j.end_array();
    j.end_object();
    client.Stop();
    if (!j.save(out)) return 1;
    return ok ? 0 : 1;
}
