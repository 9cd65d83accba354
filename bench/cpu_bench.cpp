// CPU use of the library over the simulated bus: an open, idle connection;
// a download, per byte; the reader under an incoming flood at 115200 baud;
// and the Sleep(0) poll with which closing waits for the reader to end.
//
//   bench_cpu [--smoke] [--out FILE]
//   bench_cpu --download-only N    just a download of N bytes, for strace -c or perf stat
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/json_writer.h"
#include "bench/stats.h"
#include "bench/thread_usage.h"
#include "sim/sim_bus.h"
#include "tests/support/syscall_swap.h"
#include "tivlink.h"
#include "tivlink/connection.h"

using namespace tivbench;
using namespace std::chrono_literals;

// Counts the library's Sleep(0) calls: defined here, it takes the place of
// the C library's for everything linked into this program.
static std::atomic<uint64_t> yields{0};
extern "C" int sched_yield(void) {
    yields.fetch_add(1, std::memory_order_relaxed);
    return (int)syscall(SYS_sched_yield);
}

namespace {

constexpr int kPort = 6;
constexpr int kBaud = 115200;
constexpr uint32_t kDevice = 0x123456;
constexpr long kSyscallPpoll = 271;

struct Sizes {
    double idle_s;
    double flood_s;
    int download_bytes;
    int stop_cycles;
};

double now_s() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

void sleep_s(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// The library's threads: those that appeared when the connection opened.
struct LibraryThreads {
    pid_t reader = 0;  // CommReader, asleep in ppoll inside its event wait
    std::set<pid_t> all;
};

LibraryThreads find_library_threads(const std::set<pid_t>& before) {
    LibraryThreads t;
    for (pid_t tid : thread_ids()) {
        if (before.count(tid)) continue;
        t.all.insert(tid);
        if (thread_blocked_in(tid) == kSyscallPpoll) t.reader = tid;
    }
    return t;
}

void write_usage(JsonWriter& j, const std::string& key, ThreadUsage u, double seconds) {
    j.begin_object(key);
    j.value("cpu_ms", (double)u.cpu_ns / 1e6);
    j.value("wakeups", (double)u.runs);
    j.value("cpu_share", (double)u.cpu_ns / 1e9 / seconds);
    j.end_object();
}

void idle(JsonWriter& j, const LibraryThreads& lib, double seconds) {
    ThreadUsage rd0 = thread_usage(lib.reader), all0 = threads_usage(lib.all);
    uint64_t yields0 = yields.load();
    double start = now_s();
    sleep_s(seconds);
    uint64_t polls = yields.load() - yields0;
    double wall = now_s() - start;
    ThreadUsage rd = thread_usage(lib.reader) - rd0;
    ThreadUsage all = threads_usage(lib.all) - all0;
    std::printf("idle %.1f s: library threads %.3f ms CPU, %llu wake-ups (reader %llu)\n", wall,
                (double)all.cpu_ns / 1e6, (unsigned long long)all.runs, (unsigned long long)rd.runs);
    j.begin_object("idle");
    j.value("seconds", wall);
    j.value("sleep0_calls", (double)polls);
    write_usage(j, "library_threads", all, wall);
    write_usage(j, "reader", rd, wall);
    j.end_object();
}

void flood(JsonWriter& j, tivsim::SimBus& bus, const LibraryThreads& lib, double seconds) {
    const double rate = line_bytes_per_second(kBaud);
    uint64_t sent0 = bus.stats().bytes_sent;
    ThreadUsage rd0 = thread_usage(lib.reader);
    double start = now_s();
    bus.send_noise(rate, std::chrono::duration_cast<tivsim::Nanos>(std::chrono::duration<double>(seconds)));
    bus.wait_sent(std::chrono::duration_cast<tivsim::Nanos>(std::chrono::duration<double>(seconds + 5)));
    sleep_s(0.05);  // the last bytes reach the reader
    double wall = now_s() - start;
    ThreadUsage rd = thread_usage(lib.reader) - rd0;
    uint64_t sent = bus.stats().bytes_sent - sent0;
    COMSTAT stat{};
    DWORD errors = 0;
    ClearCommError(spi->hComm, &errors, &stat);
    std::printf("flood %.0f B/s for %.1f s (%llu bytes): reader %.2f%% CPU, %llu wake-ups; %u bytes left queued\n",
                rate, wall, (unsigned long long)sent, 100.0 * (double)rd.cpu_ns / 1e9 / wall,
                (unsigned long long)rd.runs, (unsigned)stat.cbInQue);
    j.begin_object("flood");
    j.value("bytes_per_second", rate).value("seconds", wall).value("bytes", (double)sent);
    j.value("left_queued", (double)stat.cbInQue);
    write_usage(j, "reader", rd, wall);
    j.end_object();
}

void download_cost(JsonWriter& j, const std::set<pid_t>& bus_threads, const LibraryThreads& lib, int bytes) {
    for (int i = 0; i < bytes; i++) e2_data[i] = (uint8_t)(i * 37 + 11);
    e2_adr = 0x100;
    e2_len = (uint32_t)bytes;
    e2_cmd = 1;
    ThreadUsage bus0 = threads_usage(bus_threads), lib0 = threads_usage(lib.all);
    ThreadUsage reader0 = thread_usage(lib.reader);
    uint64_t yields0 = yields.load();
    uint64_t cpu0 = process_cpu_ns();
    double start = now_s();
    int code = tiv_thread_join(download(kDevice));
    double wall = now_s() - start;
    uint64_t cpu = process_cpu_ns() - cpu0 - (threads_usage(bus_threads) - bus0).cpu_ns;
    ThreadUsage port_threads = threads_usage(lib.all) - lib0;
    ThreadUsage reader = thread_usage(lib.reader) - reader0;
    uint64_t polls = yields.load() - yields0;
    double per_byte_us = (double)cpu / 1e3 / bytes;
    std::printf("download of %d bytes in %.2f s (exit %d): %.3f ms CPU, %.1f us per byte, "
                "%.1f wake-ups of the port's threads per frame (reader %.1f), %llu Sleep(0) calls\n",
                bytes, wall, code, (double)cpu / 1e6, per_byte_us, (double)port_threads.runs / (bytes + 2),
                (double)reader.runs / (bytes + 2), (unsigned long long)polls);
    j.begin_object("download");
    j.value("bytes", (double)bytes).value("frames", (double)bytes + 2).value("seconds", wall);
    j.value("exit_code", (double)code).value("cpu_ms", (double)cpu / 1e6);
    j.value("cpu_us_per_byte", per_byte_us);
    j.value("port_thread_wakeups_per_frame", (double)port_threads.runs / (bytes + 2));
    j.value("reader_wakeups_per_frame", (double)reader.runs / (bytes + 2));
    j.value("sleep0_calls", (double)polls);
    j.end_object();
}

// Opens and stops the reader `cycles` times; the poll's time and Sleep(0) calls.
void stop_poll(JsonWriter& j, const std::string& key, int cycles) {
    std::vector<double> spin_us, polls, cpu_us;
    for (int i = 0; i < cycles; i++) {
        if (init_tiv3(kPort, kBaud) != 0) return;
        sleep_s(0.005);  // the reader is asleep in its wait
        timespec c0{}, c1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
        uint64_t y0 = yields.load();
        double start = now_s();
        SerialStopCommThread(spi);
        spin_us.push_back((now_s() - start) * 1e6);
        polls.push_back((double)(yields.load() - y0));
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
        cpu_us.push_back((double)(c1.tv_sec - c0.tv_sec) * 1e6 + (double)(c1.tv_nsec - c0.tv_nsec) / 1e3);
    }
    Summary s = summarize(spin_us), p = summarize(polls);
    std::printf("stop poll (%s): %.1f us median, %.1f us max; Sleep(0) calls median %.0f max %.0f\n", key.c_str(),
                s.median, s.max, p.median, p.max);
    j.begin_object(key);
    j.summary("wait_us", s);
    j.summary("sleep0_calls", p);
    j.summary("cpu_us", summarize(cpu_us));
    j.end_object();
}

// Keeps every core busy while it lives.
class CpuLoad {
public:
    CpuLoad() {
        unsigned n = std::thread::hardware_concurrency();
        for (unsigned i = 0; i < (n ? n : 2); i++)
            spinners_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~CpuLoad() {
        stop_ = true;
        for (auto& t : spinners_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> spinners_;
};

}  // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    int download_only = 0;
    std::string out = "cpu.json";
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--smoke") smoke = true;
        else if (a == "--out" && i + 1 < argc) out = argv[++i];
        else if (a == "--download-only" && i + 1 < argc) download_only = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: bench_cpu [--smoke] [--out FILE] [--download-only N]\n");
            return 2;
        }
    }
    if (download_only < 0 || download_only > 2000) return 2;
    Sizes z = smoke ? Sizes{0.5, 0.5, 3, 5} : Sizes{10, 5, 100, 50};
    // No beep for a frame sent while no line is open; a box still shows.
    SyscallSwap<&PlatformSyscalls::isatty> no_beep(
        [](int fd) { return fd == STDERR_FILENO ? 0 : platform_syscalls_default.isatty(fd); });
    tivsim::SimBus bus;
    bus.bind_com(kPort);
    std::set<pid_t> before = thread_ids();
    std::set<pid_t> bus_threads = before;
    bus_threads.erase((pid_t)getpid());

    JsonWriter j;
    j.begin_object();
    j.value("smoke", smoke);
    if (init_tiv3(kPort, kBaud) != 0) return 1;
    sleep_s(0.2);  // settled: both threads asleep
    LibraryThreads lib = find_library_threads(before);
    if (download_only) {
        JsonWriter ignored;
        download_cost(ignored, bus_threads, lib, download_only);
        exit_tiv3();
        return 0;
    }
    j.value("library_threads_found", (double)lib.all.size());
    j.value("reader_identified", lib.reader != 0);
    idle(j, lib, z.idle_s);
    flood(j, bus, lib, z.flood_s);
    download_cost(j, bus_threads, lib, z.download_bytes);
    stop_poll(j, "stop_poll_idle", z.stop_cycles);
    {
        CpuLoad load;
        stop_poll(j, "stop_poll_loaded", z.stop_cycles);
    }
    exit_tiv3();
    j.end_object();
    if (!j.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        return 1;
    }
    return lib.reader ? 0 : 1;
}
