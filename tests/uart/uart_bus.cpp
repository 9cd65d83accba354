// The bus side of the guest run: connects to the guest's console and to the
// host ends of its two ports (unix sockets served by QEMU), decodes what each
// port sends with the simulated bus's decoder, and checks every step the
// guest announces: frames byte for byte and the pauses between them. Prints
// one line per check and ends with "N passed, M failed".
// Usage: uart_bus DIR SECONDS   (DIR holds console.sock, ttyS1.sock, ttyUSB0.sock)
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/frame_decoder.h"
#include "sim/frame_format.h"
#include "sim/protocol.h"

using tivsim::DecodedFrame;
using tivsim::Nanos;

namespace {

constexpr uint32_t kDevice = 0x123456;
constexpr int kHeldTooLongMs = 5000;  // a guest silent this long while its port is held is frozen

struct Want {
    uint8_t command;
    std::vector<uint8_t> payload;
    int min_gap_ms;  // before this frame, from the previous frame's last byte
};

struct Port {
    std::string name;
    int fd = -1;
    bool held = false;
    tivsim::FrameDecoder decoder;
    std::vector<DecodedFrame> frames;
};

int passed = 0, failed = 0;

void result(bool ok, const std::string& port, const std::string& text) {
    printf("%s %s: %s\n", ok ? "PASS" : "FAIL", port.c_str(), text.c_str());
    fflush(stdout);
    (ok ? passed : failed)++;
}

int connect_unix(const std::string& path, int seconds) {
    for (int tries = 0; tries < seconds * 10; ++tries) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
        if (fd >= 0) close(fd);
        usleep(100000);
    }
    return -1;
}

// A colour word, most significant byte first.
std::vector<uint8_t> colour(uint8_t sub, uint32_t c) {
    return {sub, uint8_t(c >> 24), uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}

// What each step the guest runs must put on the wire. Frames to the
// device's physical address are followed by 30 ms; the setup and download
// pauses come on top of that.
std::map<std::string, std::vector<Want>> expected_steps() {
    const uint8_t light = tivsim::kLight, begin = tivsim::kSetupBegin, write = tivsim::kSetupWrite,
                  image = tivsim::kImageWrite, reset = tivsim::kReset;
    std::vector<Want> set_rgbx = {
        {light, {0x12, 0x01}, 0}, {light, colour(0x04, 0xCACB00FF), 30}, {light, colour(0x00, 0xCACB00FF), 30}};
    return {
        {"set_rgbx", set_rgbx},
        {"after_stall", set_rgbx},
        {"after_stop", set_rgbx},
        {"fade_rgbx",
         {{light, {0x11, 0xCA, 0x01}, 0}, {light, {0x08, 1, 1, 1, 1}, 30}, {light, colour(0x04, 0x11223344), 30}}},
        {"set_serial",
         {{begin, {0x00}, 0},
          {write, {0, 0, 0x00}, 230},
          {write, {0, 1, 0x65}, 80},
          {write, {0, 2, 0x43}, 80},
          {write, {0, 3, 0x21}, 80},
          {reset, {}, 80}}},
        {"download",
         {{begin, {0x00}, 0},
          {image, {0, 16, 0xCA}, 130},
          {image, {0, 17, 0xCB}, 80},
          {image, {0, 18, 0x7F}, 80},
          {reset, {}, 80}}},
    };
}

// A download stopped mid-way: begin, the first k image bytes in order, then
// the reset, with 0 < k < 40.
std::vector<Want> stopped_download(const std::vector<DecodedFrame>& got) {
    std::vector<Want> want = {{tivsim::kSetupBegin, {0x00}, 0}};
    size_t images = got.size() >= 2 ? got.size() - 2 : 0;
    for (size_t i = 0; i < images && i < 40; ++i)
        want.push_back({tivsim::kImageWrite, {0, uint8_t(100 + i), uint8_t(0xC0 + i)}, i == 0 ? 130 : 80});
    want.push_back({tivsim::kReset, {}, 80});
    return want;
}

std::string describe(const DecodedFrame& f) {
    return std::string(tivsim::frame_kind_name(f.kind)) + " " + tivsim::hex_bytes(f.logical);
}

// Pauses are never short; above them a TCG guest may be late by a lot.
constexpr int kGenerousMs = 1500;
// What this side sees of a pause is not quite what the guest held: bytes
// are stamped when this process reads them, after QEMU's threads passed them
// on, so a frame's tail that reaches here late makes the pause after it look
// shorter. Over many runs that was up to 2 ms; a pause missing, or counted
// from before its frame went out, is short by far more.
constexpr long kHostJitterUs = 3000;

struct Margins {
    long least = 0, most = 0;  // ms above each pause's minimum, over the pauses of a step
};

std::optional<std::string> mismatch(const std::vector<DecodedFrame>& got, const std::vector<Want>& want,
                                    size_t skip, Margins& margins) {
    if (got.size() < want.size() + skip)
        return std::to_string(got.size() - skip) + " frames, expected " + std::to_string(want.size());
    margins = {kGenerousMs, 0};
    for (size_t i = 0; i < want.size(); ++i) {
        const DecodedFrame& f = got[skip + i];
        const Want& w = want[i];
        if (!f.crc_ok() || f.address != kDevice || f.command != w.command || f.payload != w.payload)
            return "frame " + std::to_string(i + 1) + " is " + describe(f);
        if (i == 0) continue;
        long gap_us = (f.first_time - got[skip + i - 1].last_time).count() / 1000;
        long gap = gap_us / 1000;
        if (gap_us < w.min_gap_ms * 1000L - kHostJitterUs || gap > w.min_gap_ms + kGenerousMs) {
            char text[96];
            snprintf(text, sizeof text, "pause before frame %zu was %.1f ms, expected %d ms or a little more",
                     i + 1, gap_us / 1000.0, w.min_gap_ms);
            return std::string(text);
        }
        margins.least = std::min(margins.least, gap - w.min_gap_ms);
        margins.most = std::max(margins.most, gap - w.min_gap_ms);
    }
    return std::nullopt;
}

void check_step(Port& port, const std::string& step) {
    static const auto steps = expected_steps();
    port.decoder.flush_noise(port.frames);
    const auto& got = port.frames;
    std::vector<Want> want;
    size_t skip = 0;
    if (step == "download_stopped") {
        want = stopped_download(got);
        if (want.size() < 3 || want.size() >= 42) {
            result(false, port.name, step + ": frames: " + std::to_string(got.size()) + " frames");
            return;
        }
    } else if (auto it = steps.find(step); it != steps.end()) {
        want = it->second;
        // After a stalled line the backlog comes first; the step's own frames end the stream.
        if (step.rfind("after_", 0) == 0 && got.size() > want.size()) skip = got.size() - want.size();
    } else {
        result(false, port.name, "unknown step " + step);
        return;
    }
    if (skip == 0 && got.size() != want.size()) {
        std::string what = std::to_string(got.size()) + " frames, expected " + std::to_string(want.size());
        for (const auto& f : got) what += "; " + describe(f);
        result(false, port.name, step + ": frames: " + what);
        return;
    }
    Margins margins;
    auto bad = mismatch(got, want, skip, margins);
    std::string text = step + ": " + std::to_string(want.size()) + " frames byte for byte";
    if (want.size() > 1 && !bad) {
        char held[64];
        snprintf(held, sizeof held, ", pauses held (%+ld..%+ld ms)", margins.least, margins.most);
        text += held;
    }
    result(!bad, port.name, text + (bad ? ": " + *bad : ""));
}

void read_port(Port& port) {
    uint8_t buf[4096];
    for (;;) {
        ssize_t n = recv(port.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) return;
        port.decoder.feed({buf, size_t(n)}, tivsim::monotonic_now(), port.frames);
    }
}

struct Run {
    int console = -1;
    std::map<std::string, Port> ports;
    std::ofstream log;
    bool done = false;
    Nanos last_word{0};
};

void answer(Run& run) {
    ssize_t ignored = write(run.console, "go\n", 3);
    (void)ignored;
}

void feed(Port& port, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t(i * 7);
    size_t off = 0;
    while (off < count) {
        ssize_t n = send(port.fd, bytes.data() + off, count - off, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN) return;
        if (n > 0) off += size_t(n);
    }
}

void on_line(Run& run, const std::string& line) {
    run.log << line << "\n";
    if (line.empty() || line[0] != '@') return;
    std::istringstream in(line);
    std::string verb, name;
    in >> verb >> name;
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (verb == "@info") {
        printf("%s %s\n", name.c_str(), rest.c_str());
        return;
    }
    if (verb == "@done") {
        run.done = true;
        return;
    }
    auto it = run.ports.find(name);
    if (it == run.ports.end()) {
        if (verb == "@fail") result(false, name, rest);
        return;
    }
    Port& port = it->second;
    read_port(port);  // whatever the port sent before the guest spoke belongs before this line
    if (verb == "@note") {
        printf("NOTE %s: %s\n", name.c_str(), rest.c_str());
    } else if (verb == "@ok" || verb == "@fail") {
        result(verb == "@ok", name, rest);
    } else if (verb == "@begin") {
        port.frames.clear();
        answer(run);
    } else if (verb == "@frames") {
        check_step(port, rest);
    } else if (verb == "@stall") {
        port.held = true;
        answer(run);
    } else if (verb == "@resume") {
        port.held = false;
        answer(run);
    } else if (verb == "@feed") {
        feed(port, 1000);
        answer(run);
    }
}

void serve(Run& run, int seconds) {
    std::string pending;
    Nanos deadline = tivsim::monotonic_now() + std::chrono::seconds(seconds);
    run.last_word = tivsim::monotonic_now();
    while (!run.done && tivsim::monotonic_now() < deadline) {
        std::vector<pollfd> fds = {{run.console, POLLIN, 0}};
        std::vector<Port*> order;
        for (auto& [name, port] : run.ports)
            if (!port.held) {
                fds.push_back({port.fd, POLLIN, 0});
                order.push_back(&port);
            }
        if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents) read_port(*order[i - 1]);
        if (fds[0].revents) {
            char buf[4096];
            ssize_t n = read(run.console, buf, sizeof buf);
            if (n <= 0) break;  // the guest powered off
            run.last_word = tivsim::monotonic_now();
            pending.append(buf, size_t(n));
            for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                on_line(run, line);
            }
        }
        for (auto& [name, port] : run.ports)
            if (port.held && tivsim::monotonic_now() - run.last_word > std::chrono::milliseconds(kHeldTooLongMs)) {
                printf("NOTE %s: the guest said nothing for %d s while this port was held; released\n",
                       name.c_str(), kHeldTooLongMs / 1000);
                port.held = false;
            }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: uart_bus DIR SECONDS\n");
        return 2;
    }
    std::string dir = argv[1];
    int seconds = atoi(argv[2]);
    // Arrival times are the pauses' evidence: a loaded host must neither delay
    // our reads nor page us out between them.
    sched_param param{};
    param.sched_priority = 50;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0 || mlockall(MCL_CURRENT | MCL_FUTURE) != 0)
        printf("NOTE bus side: no real-time priority or locked memory; pauses are timed less exactly\n");

    Run run;
    run.log.open(dir + "/console.log");
    // QEMU waits for each of its server sockets in turn, the console first.
    run.console = connect_unix(dir + "/console.sock", 20);
    for (const char* name : {"ttyS1", "ttyUSB0"}) {
        Port& port = run.ports[name];
        port.name = name;
        port.fd = connect_unix(dir + "/" + name + ".sock", 20);
        if (port.fd < 0) result(false, name, "no host end to connect to");
    }
    if (run.console < 0) {
        printf("uart: the guest's console never came up\n");
        return 1;
    }
    serve(run, seconds);
    if (!run.done) result(false, "guest", "did not finish within " + std::to_string(seconds) + " s");
    printf("%d passed, %d failed\n", passed, failed);
    close(run.console);
    for (auto& [name, port] : run.ports)
        if (port.fd >= 0) close(port.fd);
    return failed == 0 && run.done ? 0 : 1;
}
