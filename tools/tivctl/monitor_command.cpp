#include "tools/tivctl/monitor_command.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "sim/capture_file.h"
#include "sim/com_env.h"
#include "sim/pty_line.h"
#include "tools/common/line_monitor.h"
#include "tools/common/stop_signal.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/serial_device.h"

namespace tivctl {

namespace {

using namespace std::chrono_literals;
using tivsim::Nanos;

constexpr int kPollMillis = 50;

void print_line(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The line being listened to: a device's fd, or the master of our own pty
// (which also holds its slave, so a host may open and close it freely).
struct LiveSource {
    tivsim::UniqueFd device;
    tivsim::PtyLine pty;
    int fd() const { return device ? device.get() : pty.master.get(); }
};

bool open_device(const MonitorRequest& request, uint32_t baud, LiveSource& source) {
    std::string error;
    source.device = open_serial_device(request.device, baud, error);
    if (!source.device) std::fprintf(stderr, "tivctl: monitor: %s\n", error.c_str());
    return (bool)source.device;
}

void open_pty(int com, LiveSource& source) {
    source.pty = tivsim::open_pty_line();
    print_line(tivsim::com_env_name(com) + "=" + source.pty.slave_path);
}

// Standard output failed, for instance its reader went away (SIGPIPE is
// ignored): nobody sees the frames any more.
bool output_gone() { return std::ferror(stdout) != 0; }

bool limit_reached(const MonitorRequest& request, const tivtools::LineMonitor& monitor, Nanos started) {
    if (monitor.limit_reached()) return true;
    return request.seconds > 0 &&
           tivsim::monotonic_now() - started >= std::chrono::duration<double>(request.seconds);
}

// Reads until the line closes, a limit is reached or a stop signal comes.
void listen(int fd, const MonitorRequest& request, tivtools::LineMonitor& monitor,
            tivsim::CaptureWriter* capture) {
    const Nanos started = tivsim::monotonic_now();
    while (!tivtools::stop_signal() && !output_gone() && !limit_reached(request, monitor, started)) {
        pollfd p = {fd, POLLIN, 0};
        const int ready = poll(&p, 1, kPollMillis);
        const Nanos now = tivsim::monotonic_now();
        if (ready <= 0) {
            monitor.idle(now);
            continue;
        }
        uint8_t buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;  // hang-up: the device is gone
        const std::span<const uint8_t> bytes(buf, (size_t)n);
        if (capture) capture->write(now, tivsim::Direction::rx, bytes);
        monitor.feed(bytes, now);
    }
    monitor.finish();
}

int replay(const MonitorRequest& request, tivtools::LineMonitor& monitor) {
    std::string error;
    if (!tivtools::replay_capture(request.read, monitor, error)) {
        std::fprintf(stderr, "tivctl: monitor: %s\n", error.c_str());
        return kExitFailed;
    }
    print_line("monitor: " + monitor.summary());
    return kExitOk;
}

// Empty when no capture is asked for; false when it cannot be created.
bool open_capture(const MonitorRequest& request, std::unique_ptr<tivsim::CaptureWriter>& capture) {
    if (request.capture.empty()) return true;
    capture = std::make_unique<tivsim::CaptureWriter>();
    if (capture->open(request.capture, tivsim::monotonic_now())) return true;
    std::fprintf(stderr, "tivctl: monitor: cannot write capture file %s\n", request.capture.c_str());
    return false;
}

}  // namespace

int run_monitor(const MonitorRequest& request, int com, uint32_t baud) {
    tivtools::LineMonitor monitor(print_line, request.frames);
    if (!request.read.empty()) return replay(request, monitor);

    tivtools::catch_stop_signals();
    LiveSource source;
    if (!request.pty && !open_device(request, baud, source)) return kExitFailed;
    // Before the pty's line is shown: a host must not be pointed at a
    // monitor that is about to give up.
    std::unique_ptr<tivsim::CaptureWriter> capture;
    if (!open_capture(request, capture)) return kExitUsage;
    if (request.pty) open_pty(com, source);
    listen(source.fd(), request, monitor, capture.get());
    const bool captured = !capture || capture->good();
    if (capture) capture->close();
    print_line("monitor: " + monitor.summary());
    if (!captured) std::fprintf(stderr, "tivctl: monitor: writing %s failed\n", request.capture.c_str());
    if (output_gone()) std::fprintf(stderr, "tivctl: monitor: standard output closed; stopped listening\n");
    if (!captured || output_gone()) return kExitFailed;
    if (const int signal = tivtools::stop_signal()) return tivtools::exit_status_for(signal);
    return kExitOk;
}

}  // namespace tivctl
