// Pacing over the simulated bus: the gaps between frames as the bus saw
// them, less the pauses the protocol mandates, for the library and, side by
// side in the same run, for a plain pySerial script sending the same frames
// with the same pauses and for a bare write-and-sleep loop (the floor of the
// measurement); and a bare 30 ms clock_nanosleep.
//
//   bench_pacing [--smoke] [--out FILE] [--python /usr/bin/python3] [--script pyserial_pacer.py]
#include <fcntl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "bench/json_writer.h"
#include "bench/line_process.h"
#include "bench/pacing_plan.h"
#include "bench/stats.h"
#include "sim/sim_bus.h"
#include "tests/support/syscall_swap.h"
#include "tivlink.h"

using namespace tivbench;
using namespace std::chrono_literals;

namespace {

constexpr int kPort = 5;
constexpr int kBareSleepMs = 30;
constexpr int kBareSleepsPerRep = 2;

struct Options {
    bool smoke = false;
    std::string out = "pacing.json";
    std::string python = "/usr/bin/python3";
    std::string script = BENCH_SOURCE_DIR "/pyserial_pacer.py";
};

double now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

double ms(tivsim::Nanos n) { return std::chrono::duration<double, std::milli>(n).count(); }

// Overshoot of one relative 30 ms clock_nanosleep, in ms, with the thread's
// default timer slack or with the slack lifted to 1 ns as the library's
// pauses do.
double bare_sleep_overshoot(bool slack_lifted = false) {
    timespec pause{0, kBareSleepMs * 1000000L};
    if (slack_lifted) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    double start = now_ms();
    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
    double overshoot = now_ms() - start - kBareSleepMs;
    if (slack_lifted) prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // the thread's default again
    return overshoot;
}

// What one sender did over all repetitions of one scenario.
struct SenderResult {
    std::vector<double> overhead_ms;  // per gap: gap less the mandated pause
    std::vector<double> span_ms;      // per frame: last byte less first byte, as the bus saw it
    std::vector<double> ratio;        // per repetition: (time + wire time) / (pauses + wire time)
    std::vector<double> elapsed_ms;   // per repetition
    std::vector<double> excess_ms;    // per repetition: (time - pauses) / frames
    bool frames_ok = true;
    std::string problem;
};

bool same_frame(const tivsim::DecodedFrame& got, const PlanFrame& want) {
    return got.kind == tivsim::FrameKind::ok && got.address == want.address &&
           got.command == want.command && got.payload == want.payload;
}

// Takes one repetition's frames off the bus and adds its figures.
void collect(tivsim::SimBus& bus, const Scenario& s, double elapsed_ms, int baud, SenderResult& r) {
    const size_t n = s.plan.size();
    if (!bus.wait_frames(n, 5s)) {
        r.frames_ok = false;
        r.problem = "only " + std::to_string(bus.frames().size()) + " of " + std::to_string(n) + " frames";
    }
    std::vector<tivsim::DecodedFrame> frames = bus.frames();
    bus.clear_log();
    double pauses = 0, wire = 0;
    for (const PlanFrame& f : s.plan) {
        pauses += f.pause_ms();
        wire += wire_ms(wire_size(f), baud);
    }
    r.elapsed_ms.push_back(elapsed_ms);
    r.excess_ms.push_back((elapsed_ms - pauses) / (double)n);
    r.ratio.push_back((elapsed_ms + wire) / (pauses + wire));
    if (frames.size() != n) {
        r.frames_ok = false;
        return;
    }
    for (size_t i = 0; i < n; i++) {
        if (!same_frame(frames[i], s.plan[i])) {
            r.frames_ok = false;
            r.problem = "frame " + std::to_string(i) + " differs from the plan";
        }
        r.span_ms.push_back(ms(frames[i].last_time - frames[i].first_time));
        if (i > 0) {
            double gap = ms(frames[i].first_time - frames[i - 1].last_time);
            r.overhead_ms.push_back(gap - s.plan[i - 1].pause_ms());
        }
    }
}

std::string hex(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return "-";
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

// The floor of the measurement: frames encoded beforehand, each written with
// write(2) and followed by one relative clock_nanosleep of its whole pause.
// What it shows beyond a bare sleep is the line and the bus's stamping.
class FloorSender {
public:
    explicit FloorSender(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios raw{};
        if (fd_ >= 0 && tcgetattr(fd_, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    ~FloorSender() {
        if (fd_ >= 0) close(fd_);
    }
    bool ready() const { return fd_ >= 0; }
    void load(const Scenario& s) {
        wires_.clear();
        for (const PlanFrame& f : s.plan) wires_.push_back({wire_bytes(f), f.pause_ms()});
    }
    // Milliseconds the sequence took; negative on a failed write.
    double run() {
        double start = now_ms();
        for (const auto& [wire, pause] : wires_) {
            if (write(fd_, wire.data(), wire.size()) != (ssize_t)wire.size()) return -1;
            if (pause == 0) continue;
            timespec t{pause / 1000, (pause % 1000) * 1000000L};
            clock_nanosleep(CLOCK_MONOTONIC, 0, &t, nullptr);
        }
        return now_ms() - start;
    }

private:
    int fd_;
    std::vector<std::pair<std::vector<uint8_t>, int>> wires_;
};

// The pySerial script as a second sender on its own simulated line.
class PythonSender {
public:
    PythonSender(const Options& o) : process_({o.python, o.script}) {}
    bool open(const std::string& path, int baud) {
        return process_.send("open " + path + " " + std::to_string(baud)) && process_.receive() == "ok";
    }
    bool load(const Scenario& s) {
        if (!process_.send("clear") || process_.receive() != "ok") return false;
        for (const PlanFrame& f : s.plan) {
            std::string pauses;
            for (int p : f.pauses_ms) {
                if (!pauses.empty()) pauses += ',';
                pauses += std::to_string(p);
            }
            char head[64];
            std::snprintf(head, sizeof head, "frame %x %x ", f.address, f.command);
            if (!process_.send(head + hex(f.payload) + " " + (pauses.empty() ? "-" : pauses))) return false;
        }
        return true;
    }
    // Milliseconds the script took for the sequence; negative on failure.
    double run() {
        if (!process_.send("run")) return -1;
        auto line = process_.receive();
        if (!line || line->rfind("done ", 0) != 0) return -1;
        return std::stod(line->substr(5)) / 1e6;
    }
    std::vector<double> sleep_overshoots(int ms, int n) {
        std::vector<double> out;
        if (!process_.send("sleep " + std::to_string(ms) + " " + std::to_string(n))) return out;
        auto line = process_.receive();
        if (!line) return out;
        std::istringstream words(line->substr(line->find(' ') + 1));
        for (double ns; words >> ns;) out.push_back(ns / 1e6);
        return out;
    }
    ~PythonSender() { process_.send("quit"); }

private:
    LineProcess process_;
};

void write_sender(JsonWriter& j, const std::string& key, const SenderResult& r) {
    j.begin_object(key);
    j.value("frames_ok", r.frames_ok);
    if (!r.problem.empty()) j.value("problem", r.problem);
    j.summary("overhead_ms", summarize(r.overhead_ms));
    j.summary("frame_span_ms", summarize(r.span_ms));
    j.summary("elapsed_ms", summarize(r.elapsed_ms));
    j.summary("excess_per_frame_ms", summarize(r.excess_ms));
    j.value("ratio_median", median(r.ratio));
    j.summary("ratio", summarize(r.ratio));
    j.end_object();
}

void print_sender(const char* who, const SenderResult& r) {
    Summary o = summarize(r.overhead_ms);
    std::printf("    %-8s overhead median %.3f p99 %.3f max %.3f ms  ratio %.5f%s\n", who, o.median, o.p99,
                o.max, median(r.ratio), r.frames_ok ? "" : ("  FRAMES WRONG: " + r.problem).c_str());
}

// How long one frame to a group address (no pause) takes to send: after the
// thread slept 30 ms, as a paced frame is sent, and straight after another.
void probe_write_path(tivsim::SimBus& bus, int n, std::vector<double>& after_sleep_us,
                      std::vector<double>& back_to_back_us) {
    for (int i = 0; i < n; i++) {
        timespec pause{0, kBareSleepMs * 1000000L};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
        double start = now_ms();
        xd_reset(7);
        double middle = now_ms();
        xd_reset(7);
        after_sleep_us.push_back((middle - start) * 1e3);
        back_to_back_us.push_back((now_ms() - middle) * 1e3);
    }
    bus.wait_frames((size_t)n * 2, 5s);
    bus.clear_log();
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--smoke") o.smoke = true;
        else if (a == "--out" && has_value) o.out = argv[++i];
        else if (a == "--python" && has_value) o.python = argv[++i];
        else if (a == "--script" && has_value) o.script = argv[++i];
        else return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: bench_pacing [--smoke] [--out FILE] [--python PATH] [--script PATH]\n");
        return 2;
    }
    // No beep for a frame sent while no line is open; a box still shows.
    SyscallSwap<&PlatformSyscalls::isatty> no_beep(
        [](int fd) { return fd == STDERR_FILENO ? 0 : platform_syscalls_default.isatty(fd); });
    tivsim::SimBus library_bus, python_bus, floor_bus;
    library_bus.bind_com(kPort);
    FloorSender floor(floor_bus.slave_path());
    if (!floor.ready()) return 1;

    PythonSender python(o);
    bool have_python = python.open(python_bus.slave_path(), 9600);
    if (!have_python) std::printf("pySerial script not available: comparison left out\n");

    std::vector<int> bauds = o.smoke ? std::vector<int>{115200} : std::vector<int>{115200, 9600};
    std::vector<double> bare, bare_lifted, write_after_sleep, write_back_to_back;
    JsonWriter j;
    j.begin_object();
    j.value("smoke", o.smoke);
    j.value("python_available", have_python);
    j.begin_array("scenarios");
    bool all_ok = true;
    for (int baud : bauds) {
        if (init_tiv3(kPort, baud) != 0) return 1;
        if (have_python && !python.open(python_bus.slave_path(), baud)) return 1;
        for (const Scenario& s : pacing_scenarios(o.smoke ? smoke_sizes() : full_sizes())) {
            std::printf("%s at %d baud, %d x %zu frames\n", s.title.c_str(), baud, s.reps, s.plan.size());
            SenderResult lib, py, fl;
            bool loaded = have_python && python.load(s);
            floor.load(s);
            for (int rep = 0; rep < s.reps; rep++) {
                for (int k = 0; k < kBareSleepsPerRep; k++) {
                    bare.push_back(bare_sleep_overshoot());
                    bare_lifted.push_back(bare_sleep_overshoot(true));
                }
                // Rotate who goes first, so that no sender always follows another.
                for (int turn = 0; turn < 3; turn++) {
                    int who = (turn + rep) % 3;
                    if (who == 0) {
                        double start = now_ms();
                        s.run_library();
                        collect(library_bus, s, now_ms() - start, baud, lib);
                    } else if (who == 1 && loaded) {
                        double elapsed = python.run();
                        if (elapsed < 0) {
                            py.frames_ok = false;
                            py.problem = "script failed";
                            continue;
                        }
                        collect(python_bus, s, elapsed, baud, py);
                    } else if (who == 2) {
                        double elapsed = floor.run();
                        if (elapsed < 0) {
                            fl.frames_ok = false;
                            fl.problem = "write failed";
                            continue;
                        }
                        collect(floor_bus, s, elapsed, baud, fl);
                    }
                }
            }
            print_sender("library", lib);
            if (loaded) print_sender("pySerial", py);
            print_sender("floor", fl);
            all_ok = all_ok && lib.frames_ok && fl.frames_ok && (!loaded || py.frames_ok);

            double pauses = 0, wire = 0;
            size_t bytes = 0, paused = 0;
            for (const PlanFrame& f : s.plan) {
                pauses += f.pause_ms();
                paused += f.pause_ms() > 0;
                bytes += wire_size(f);
                wire += wire_ms(wire_size(f), baud);
            }
            j.begin_object();
            j.value("key", s.key).value("title", s.title).value("baud", (double)baud);
            j.value("reps", (double)s.reps).value("frames", (double)s.plan.size());
            j.value("paused_frames", (double)paused);
            j.value("wire_bytes", (double)bytes).value("pause_ms", pauses).value("wire_ms", wire);
            j.value("min_ms", pauses + wire);
            write_sender(j, "library", lib);
            if (loaded) write_sender(j, "python", py);
            write_sender(j, "floor", fl);
            j.end_object();
        }
        probe_write_path(library_bus, o.smoke ? 3 : 40, write_after_sleep, write_back_to_back);
        exit_tiv3();
    }
    j.end_array();
    j.summary("send_after_sleep_us", summarize(write_after_sleep));
    j.summary("send_back_to_back_us", summarize(write_back_to_back));
    std::printf("one frame to a group: %.1f us after a 30 ms sleep, %.1f us straight after another\n",
                median(write_after_sleep), median(write_back_to_back));
    Summary b = summarize(bare);
    j.summary("bare_sleep_overshoot_ms", b);
    j.summary("bare_sleep_low_slack_overshoot_ms", summarize(bare_lifted));
    std::printf("bare %d ms clock_nanosleep overshoot: median %.3f p99 %.3f max %.3f ms (slack lifted: %.3f)\n",
                kBareSleepMs, b.median, b.p99, b.max, median(bare_lifted));
    if (have_python) {
        Summary p = summarize(python.sleep_overshoots(kBareSleepMs, o.smoke ? 3 : 40));
        j.summary("python_sleep_overshoot_ms", p);
        std::printf("python time.sleep(%d ms) overshoot: median %.3f ms\n", kBareSleepMs, p.median);
    }
    j.value("frames_ok", all_ok);
    j.end_object();
    if (!j.save(o.out)) {
        std::fprintf(stderr, "cannot write %s\n", o.out.c_str());
        return 1;
    }
    return all_ok ? 0 : 1;
}
