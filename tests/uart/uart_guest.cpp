// The test host inside the guest: drives one real port through the public
// API and the serial layer, checks the line with plain ioctls, and reports
// on standard output (the guest's console) in lines the bus side parses:
//   @info <text>            printed as it is
//   @ok|@fail <port> <text> one check decided here
//   @note <port> <text>     something that could not be checked, and why
//   @begin <port> <step>    frames from here on belong to <step>
//   @frames <port> <step>   the bus side checks what <step> sent
//   @begin, @stall|@resume <port>, @feed <port> <n>: the bus side acts, then
//                           answers "go" on standard input
// Usage: uart_guest PORT_NAME COMNR DEVICE   |   uart_guest --open COMNR DEVICE UID
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "include/tivlink.h"
#include "serial/serial.h"
#include "tests/uart/line_probe.h"

extern char** environ;

namespace {

constexpr uint32_t kDevice = 0x123456;  // physical: every frame is followed by 30 ms
constexpr uint32_t kGroup = 0x0005;     // group: frames follow each other at once
constexpr uint32_t kColour = 0xCACB00FF;  // start and escape bytes exercise the stuffing

std::string port;
int comnr = 0;
std::string device;

double now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void sleep_ms(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

void say(const std::string& line) {
    std::string text = line + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

void check(bool ok, const std::string& text) {
    say(std::string(ok ? "@ok " : "@fail ") + port + " " + text);
}

void await_go() {
    char line[64];
    if (!fgets(line, sizeof line, stdin)) {
        say("@fail " + port + " console closed while waiting for the bus side");
        exit(1);
    }
}

// Waits for the bus side's "go" on the console.
void ask(const std::string& request) {
    say("@" + request + " " + port);
    await_go();
}

// The console and the port reach the bus side by separate ways, so a step's
// first frame could overtake its announcement: the step starts only once the
// bus side has taken it.
void begin(const std::string& step) {
    say("@begin " + port + " " + step);
    await_go();
}

int count_entries(const char* dir) {
    DIR* d = opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n - (strcmp(dir, "/proc/self/fd") == 0);  // the directory's own descriptor
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string driver_and_type() {
    char link[256] = {};
    std::string name = device.substr(device.rfind('/') + 1);
    std::string path = "/sys/class/tty/" + name + "/device/driver";
    ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    std::string driver = n > 0 ? std::string(link, n) : "none";
    driver = driver.substr(driver.rfind('/') + 1);
    if (name.rfind("ttyS", 0) != 0) return "driver " + driver;
    std::string type = "-";
    {
        std::istringstream table(read_file("/proc/tty/driver/serial"));
        std::string line, prefix = name.substr(4) + ": uart:";
        while (std::getline(table, line))
            if (line.rfind(prefix, 0) == 0)
                type = line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size());
    }
    return "driver " + driver + ", UART " + type;
}

// Bytes read and read calls by every thread but the main one.
std::pair<long, long> reader_io() {
    long bytes = 0, calls = 0;
    DIR* d = opendir("/proc/self/task");
    if (!d) return {-1, -1};
    std::string self = std::to_string(getpid());
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || self == e->d_name) continue;
        std::istringstream io(read_file(std::string("/proc/self/task/") + e->d_name + "/io"));
        std::string key;
        long value;
        while (io >> key >> value) {
            if (key == "rchar:") bytes += value;
            if (key == "syscr:") calls += value;
        }
    }
    closedir(d);
    return {bytes, calls};
}

int open_probe() { return open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); }

// Another process tries the open port: as root, whom TIOCEXCL lets through
// and only the lock stops, and as an ordinary user, whom TIOCEXCL itself
// refuses (the plain open then fails with EBUSY).
bool second_open_refused(uid_t uid) {
    std::string nr = std::to_string(comnr), id = std::to_string(uid);
    const char* argv[] = {"/uart_guest", "--open", nr.c_str(), device.c_str(), id.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int try_second_open(int comnr_arg, const char* path, uid_t uid) {
    if (uid != 0 && (setgid(uid) != 0 || setuid(uid) != 0)) return 2;
    SerialPortInfo* spi = SerialOpen(comnr_arg);
    SerialClose(spi);
    if (spi) return 1;
    if (uid == 0) return 0;
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    bool busy = fd < 0 && errno == EBUSY;
    if (fd >= 0) close(fd);
    return busy ? 0 : 3;
}

void check_line_after_init(int fd) {
    LineState s = probe_line(fd);
    check(s.ok && s.out_speed == 9600 && s.in_speed == 9600, "rate 9600 (TCGETS2: " +
          std::to_string(s.out_speed) + "/" + std::to_string(s.in_speed) + ")");
    check(s.ok && s.data_bits == 8 && !s.parity && !s.two_stop, "format 8N1 (TCGETS2)");
    check(s.ok && !s.rtscts && !s.xon_xoff, "flow control off (TCGETS2)");
    check(s.ok && (s.modem & tiocm_dtr()) && (s.modem & tiocm_rts()), "DTR and RTS raised (TIOCMGET)");
}

void check_drain(int fd) {
    auto before = reader_io();
    ask("feed");  // the bus side has sent 1000 bytes when it answers
    double deadline = now_ms() + 3000;
    while (queued_input(fd) != 0 && now_ms() < deadline) sleep_ms(20);
    sleep_ms(100);
    auto after = reader_io();
    long bytes = after.first - before.first, calls = after.second - before.second;
    check(queued_input(fd) == 0 && bytes >= 1000 && calls >= 10,
          "1000 bytes sent in were drained, none left queued (" + std::to_string(bytes) +
              " bytes taken in " + std::to_string(calls) + " reads, 10 or more)");
}

void frames(const std::string& step, bool ok, const std::string& detail) {
    check(ok, step + " returned as expected" + (detail.empty() ? "" : " (" + detail + ")"));
    say("@frames " + port + " " + step);
}

void light_and_setup() {
    begin("set_rgbx");
    frames("set_rgbx", set_rgbx(kDevice, kColour) == 0, "");
    begin("fade_rgbx");
    frames("fade_rgbx", fade_rgbx(kDevice, 0x11223344, 0x2CA) == 0, "");
    begin("set_serial");
    double t0 = now_ms();
    int32_t stored = set_serial(kDevice, 0x654321);
    double took = now_ms() - t0;
    // begin 200, four writes 50, reset 100, and 30 after each of the six frames
    frames("set_serial", stored == 0x654321 && took >= 680, "took " + std::to_string((int)took) + " ms");
}

bool write_image(const char* path, std::initializer_list<uint8_t> bytes, uint32_t start) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    for (uint8_t b : bytes) fputc(b, f);
    for (int shift = 24; shift >= 0; shift -= 8) fputc((start >> shift) & 0xFF, f);
    return fclose(f) == 0;
}

void downloads() {
    begin("download");
    bool loaded = write_image("/tmp/image.e2", {0xCA, 0xCB, 0x7F}, 16) && load_e2_file("/tmp/image.e2") == 0;
    e2_cmd = 1;
    void* worker = download(kDevice);
    std::set<int> seen;
    double deadline = now_ms() + 5000;
    while (e2_cmd == 1 && now_ms() < deadline) {
        seen.insert(int(e2_percent));
        sleep_ms(2);
    }
    int code = tiv_thread_join(worker);
    std::string progress;
    for (int p : seen) progress += (progress.empty() ? "" : ",") + std::to_string(p);
    frames("download", loaded && code == 0 && seen == std::set<int>{0, 33, 66} && e2_percent == 0,
           "progress " + progress);

    begin("download_stopped");
    for (int i = 0; i < 40; ++i) e2_data[i] = (uint8_t)(0xC0 + i);
    e2_adr = 100;
    e2_len = 40;
    e2_cmd = 1;
    worker = download(kDevice);
    while (e2_percent < 10 && now_ms() < deadline + 10000) sleep_ms(2);
    e2_cmd = 0;
    code = tiv_thread_join(worker);
    frames("download_stopped", code == 0 && e2_percent == 0 && e2_cmd == 0, "");
}

struct WriteOutcome {
    bool cut = false;        // a frame came back short
    int sent = 0;            // frames written whole before
    double took_ms = 0;      // the last call
    double longest_ok_ms = 0;
    double held_ms = 0;      // longest stretch the guest itself did not run
    bool reported = false;   // the box text appeared and the failure was counted
};

// Frames of the largest payload to a group, back to back, until one is cut
// short or far more went out than any buffer on the way can hold. A ticker
// measures whether the guest itself kept running meanwhile: its clock runs
// on while QEMU holds it, so a held guest shows one long tick.
WriteOutcome write_until_cut() {
    static uint8_t payload[990];
    memset(payload, 0x55, sizeof payload);
    WriteOutcome out;
    std::atomic<bool> stop{false};
    std::atomic<long> held{0};
    std::thread ticker([&] {
        double last = now_ms();
        while (!stop) {
            sleep_ms(10);
            double t = now_ms();
            if (t - last > held) held = long(t - last);
            last = t;
        }
    });
    uint32_t failed_before = tiv_failed_frames();
    size_t box_before = read_file("/tmp/boxes").size();
    double give_up = now_ms() + 20000;
    while (out.sent < 300 && now_ms() < give_up) {
        double t0 = now_ms();
        int32_t r = tiv_frame_send(kGroup, 0x7E, payload, sizeof payload);
        out.took_ms = now_ms() - t0;
        if (r != 0) {
            out.cut = true;
            break;
        }
        ++out.sent;
        if (out.took_ms > out.longest_ok_ms) out.longest_ok_ms = out.took_ms;
        if (out.took_ms >= 1000) break;  // past the time-out and still whole: no point going on
    }
    stop = true;
    ticker.join();
    out.held_ms = held;
    std::string text = "COM" + std::to_string(comnr) + " - Write Error!";
    out.reported = tiv_failed_frames() == failed_before + 1 &&
                   read_file("/tmp/boxes").substr(box_before).find(text) != std::string::npos;
    return out;
}

std::string describe(const WriteOutcome& o) {
    if (!o.cut)
        return std::to_string(o.sent) + " frames went out whole, none cut short (longest " +
               std::to_string(long(o.longest_ok_ms)) + " ms)";
    return "frame " + std::to_string(o.sent + 1) + " cut short after " + std::to_string(long(o.took_ms)) +
           " ms, \"COM" + std::to_string(comnr) + " - Write Error!\"" + (o.reported ? " reported" : " NOT reported");
}

void after(const std::string& step) {
    begin(step);
    frames(step, set_rgbx(kDevice, kColour) == 0, "");
}

// The host side stops taking bytes, so whatever sits between the tty and
// the socket fills up.
void stalled_line() {
    ask("stall");
    WriteOutcome o = write_until_cut();
    if (o.cut) {
        check(o.took_ms >= 1000 && o.reported, "stalled line (bus side not reading): " + describe(o));
    } else if (o.held_ms >= 2000) {
        say("@note " + port + " the bus side cannot stall this port: QEMU held the whole guest for " +
            std::to_string(long(o.held_ms)) + " ms while the host end was full, and the frame then went out whole (" +
            std::to_string(long(o.longest_ok_ms)) + " ms), so the guest never saw a stalled line");
    } else {
        check(false, "stalled line: " + describe(o));
    }
    ask("resume");
    sleep_ms(200);
    after("after_stall");
}

// Output stopped in the guest's tty, as a received XOFF would: the driver
// keeps the frame queued and the write time-out has to end it.
void stopped_output(int fd) {
    if (stop_output(fd, true) != 0) {
        check(false, "stopped output: TCOOFF refused");
        return;
    }
    WriteOutcome o = write_until_cut();
    stop_output(fd, false);
    // The usb-serial core has no stop for output: it sends on regardless.
    if (!o.cut && device.rfind("/dev/ttyUSB", 0) == 0)
        say("@note " + port + " stopped output (TCOOFF) does not hold this driver: " + describe(o) +
            "; no honest way is left to make its queue stand still");
    else
        check(o.cut && o.took_ms >= 1000 && o.reported, "stopped output (TCOOFF): " + describe(o));
    after("after_stop");
}

void serial_layer() {
    SerialPortInfo* spi = SerialOpen(comnr);
    check(spi != nullptr, "SerialOpen");
    if (!spi) return;
    int fd = open_probe();
    // The tty keeps its settings between opens; the last connection ran at 14400.
    LineState opened = probe_line(fd);
    check(opened.ok && opened.out_speed == 9600 && opened.data_bits == 8 && !opened.parity && !opened.two_stop &&
              !opened.rtscts && !opened.xon_xoff && (opened.modem & tiocm_dtr()) && (opened.modem & tiocm_rts()),
          "SerialOpen after a connection at 14400: 9600 8N1, no flow control, DTR and RTS on (TCGETS2: " +
              std::to_string(opened.out_speed) + ")");
    bool set = SerialSetBreak(spi);
    std::string lcr;
    if (device == "/dev/ttyS1") {  // the line control register's break bit, read from the UART itself
        int portfd = open("/dev/port", O_RDONLY);
        uint8_t value = 0;
        if (portfd >= 0 && pread(portfd, &value, 1, 0x2F8 + 3) == 1) lcr = (value & 0x40) ? "on" : "off";
        if (portfd >= 0) close(portfd);
    }
    bool clear = SerialClearBreak(spi);
    check(set && clear && (lcr.empty() || lcr == "on"),
          "SerialSetBreak and SerialClearBreak" + (lcr.empty() ? std::string() : ", break bit " + lcr));

    DWORD status = 0;
    bool got = SerialGetModemStatus(spi, &status);
    LineState s = probe_line(fd);
    DWORD expected = ((s.modem & tiocm_cts()) ? MS_CTS_ON : 0) | ((s.modem & tiocm_dsr()) ? MS_DSR_ON : 0) |
                     ((s.modem & tiocm_ri()) ? MS_RING_ON : 0) | ((s.modem & tiocm_cd()) ? MS_RLSD_ON : 0);
    char hex[32];
    snprintf(hex, sizeof hex, "0x%02X", (unsigned)status);
    check(got && s.ok && status == expected, std::string("SerialGetModemStatus ") + hex + " matches TIOCMGET");

    struct Line {
        DWORD set, clear;
        int bit;
        const char* name;
    } lines[] = {{SETDTR, CLRDTR, tiocm_dtr(), "DTR"}, {SETRTS, CLRRTS, tiocm_rts(), "RTS"}};
    for (const Line& l : lines) {
        bool ok = SerialEscape(spi, l.clear) && !(probe_line(fd).modem & l.bit) && SerialEscape(spi, l.set) &&
                  (probe_line(fd).modem & l.bit);
        check(ok, std::string("SerialEscape lowers and raises ") + l.name + " (TIOCMGET)");
    }
    if (fd >= 0) close(fd);
    SerialClose(spi);
}

int run() {
    say("@info " + port + " (COM" + std::to_string(comnr) + "): " + driver_and_type());
    int threads = count_entries("/proc/self/task"), fds = count_entries("/proc/self/fd");
    check(init_tiv3(comnr, 0) == 0, "_init_tiv3(" + std::to_string(comnr) + ", 0)");
    int fd = open_probe();
    int threads_open = count_entries("/proc/self/task");
    check_line_after_init(fd);
    check(second_open_refused(0), "second open from another process refused (root: by the lock)");
    chmod(device.c_str(), 0666);
    check(second_open_refused(65534), "second open from another process refused (other user: by TIOCEXCL)");
    check_drain(fd);
    light_and_setup();
    downloads();
    stalled_line();
    stopped_output(fd);
    if (fd >= 0) close(fd);
    exit_tiv3();
    // A joined thread may still be listed for a moment while the kernel reaps it.
    double settle = now_ms() + 1000;
    while ((count_entries("/proc/self/task") != threads || count_entries("/proc/self/fd") != fds) &&
           now_ms() < settle)
        sleep_ms(10);
    int threads_after = count_entries("/proc/self/task"), fds_after = count_entries("/proc/self/fd");
    check(threads_after == threads && fds_after == fds,
          "_exit_tiv3 leaves " + std::to_string(threads_after) + " threads and " + std::to_string(fds_after) +
              " descriptors (before _init_tiv3: " + std::to_string(threads) + " and " + std::to_string(fds) +
              "; threads while open: " + std::to_string(threads_open) + ")");

    check(init_tiv3(comnr, 14400) == 0, "_init_tiv3(" + std::to_string(comnr) + ", 14400)");
    fd = open_probe();
    LineState s = probe_line(fd);
    check(s.ok && s.out_speed == 14400 && s.in_speed == 14400,
          "rate 14400 (TCGETS2: " + std::to_string(s.out_speed) + "/" + std::to_string(s.in_speed) + ")");
    if (fd >= 0) close(fd);
    exit_tiv3();
    serial_layer();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "--open") == 0) return try_second_open(atoi(argv[2]), argv[3], uid_t(atoi(argv[4])));
    if (argc != 4) {
        fprintf(stderr, "usage: uart_guest PORT_NAME COMNR DEVICE | uart_guest --open COMNR DEVICE UID\n");
        return 2;
    }
    port = argv[1];
    comnr = atoi(argv[2]);
    device = argv[3];
    // Boxes land in a file the stalled-line check reads back.
    int boxes = open("/tmp/boxes", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (boxes >= 0) dup2(boxes, STDERR_FILENO);
    return run();
}
