#include "tools/tivgate/bus_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "tools/tivgate/line_watch.h"

namespace tivgate {

Waker::Waker() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Waker::~Waker() {
    if (fd_ >= 0) close(fd_);
}

void Waker::wake() {
    const uint64_t one = 1;
    const ssize_t ignored = write(fd_, &one, sizeof one);
    (void)ignored;  // a full counter is a wake-up all the same
}

void Waker::drain() {
    uint64_t count;
    const ssize_t ignored = read(fd_, &count, sizeof count);
    (void)ignored;
}

namespace {

// Sleeps until `until`, the waker or the watch; true when the watch fired.
bool sleep_until(Clock::time_point until, Waker& waker, LineWatch& watch) {
    pollfd fds[2] = {{waker.fd(), POLLIN, 0}, {watch.fd(), POLLIN, 0}};
    const Clock::time_point now = Clock::now();
    timespec timeout{};
    const timespec* bounded = nullptr;
    if (until != Clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(until - now, Clock::duration{}));
        timeout = {(time_t)(left.count() / 1000000000), (long)(left.count() % 1000000000)};
        bounded = &timeout;
    }
    if (ppoll(fds, watch.fd() >= 0 ? 2 : 1, bounded, nullptr) <= 0) return false;
    if (fds[0].revents) waker.drain();
    return fds[1].revents && watch.changed();
}

}  // namespace

void run_bus(BusLoop& loop, Gateway& gateway, Line& line, Waker& waker, const std::function<void()>& ready) {
    LineWatch watch;
    bool said_ready = false;
    while (!gateway.stopping()) {
        const Clock::time_point until = loop.step();
        if (!said_ready && loop.tried()) {
            said_ready = true;
            ready();
        }
        watch.follow(line.path());
        if (until <= Clock::now()) continue;
        if (sleep_until(until, waker, watch)) loop.line_changed();
    }
    loop.finish();
}

}  // namespace tivgate
