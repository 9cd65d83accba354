#include "tools/tivgate/event_loop.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>

#include "tools/tivgate/log.h"
#include "tools/tivgate/stats_text.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

constexpr auto kStatusEvery = 5s;

// select() rebuilds its sets every turn; the epoll poller kept a stale entry
// for the descriptor of a connection olad had closed, and the next socket,
// given the same number, could not be watched.
ola::io::SelectServer::Options select_options() {
    ola::io::SelectServer::Options o;
    o.force_select = true;
    return o;
}

}  // namespace

ola::TimeInterval ola_interval(Clock::duration d) {
    const int64_t us = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(d).count());
    return ola::TimeInterval((int32_t)(us / 1000000), (int32_t)(us % 1000000));
}

std::string describe(const Patch& patch) {
    const size_t groups = (size_t)std::count_if(patch.fixtures.begin(), patch.fixtures.end(),
                                                [](const Fixture& f) { return is_group(f.address); });
    std::string text = "universe " + std::to_string(patch.universe) + ", " + std::to_string(patch.fixtures.size()) +
                       " fixtures (" + std::to_string(groups) + " groups, " +
                       std::to_string(patch.fixtures.size() - groups) + " devices)";
    const size_t declared = patch.groups.size();
    if (declared) text += ", " + std::to_string(declared) + (declared == 1 ? " declared group" : " declared groups");
    return text;
}

EventLoop::EventLoop(const sigset_t& signals, std::string patch_path, Gateway& gateway, const BusLoop& bus,
                     ola::network::IPV4SocketAddress olad, std::optional<UnixListener> control, StatusContext context,
                     std::function<void(const Patch&)> reloaded)
    : patch_path_(std::move(patch_path)),
      gateway_(gateway),
      reloaded_(std::move(reloaded)),
      bus_(bus),
      ss_(select_options()),
      signal_fd_(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC)),
      signals_(signal_fd_),
      source_(ss_, olad, gateway.patch()->universe, [this](unsigned u, std::span<const uint8_t> s) { dmx(u, s); },
              [this] { publish_source(); }),
      watchdog_(watchdog_every()),
      control_(ss_, gateway, std::move(context), [this] { status_now(); }) {
    if (control) control_socket_.emplace(ss_, std::move(*control), [this](std::string_view line) { return control_.answer(line); });
    signals_.SetOnData(ola::NewCallback(this, &EventLoop::take_signals));
    ss_.AddReadDescriptor(&signals_);
    ss_.RegisterRepeatingTimeout(ola_interval(kStatusEvery), ola::NewCallback(this, &EventLoop::status_due));
    if (watchdog_) ss_.RegisterRepeatingTimeout(ola_interval(*watchdog_), ola::NewCallback(this, &EventLoop::watchdog_due));
    // The line's news, from the bus thread, reaches the status line at once.
    gateway_.set_line_listener([this] { ss_.Execute(ola::NewSingleCallback(this, &EventLoop::status_now)); });
}

EventLoop::~EventLoop() {
    gateway_.set_line_listener(nullptr);
    ss_.DrainCallbacks();  // while the members they use are still here
    ss_.RemoveReadDescriptor(&signals_);
    close(signal_fd_);
}

int EventLoop::run() {
    source_.start();
    status_now();
    ss_.Run();
    return stop_signal_;
}

void EventLoop::take_signals() {
    signalfd_siginfo info;
    while (read(signal_fd_, &info, sizeof info) == (ssize_t)sizeof info) {
        switch ((int)info.ssi_signo) {
        case SIGHUP: reload(); break;
        case SIGUSR1:
            for (const std::string& line : stats_lines(gateway_.counts(), gateway_.snapshot(Clock::now()).latency))
                log_line(Priority::info, "stats: %s", line.c_str());
            break;
        default:
            stop_signal_ = (int)info.ssi_signo;
            ss_.Terminate();
        }
    }
}

void EventLoop::reload() {
    PatchResult read = read_patch(patch_path_);
    if (!read.patch) {
        log_line(Priority::err, "SIGHUP: %s; keeping the running patch", read.error.c_str());
        return;
    }
    auto patch = std::make_shared<const Patch>(std::move(*read.patch));
    control_.end("the patch was reloaded");
    const Clock::time_point now = Clock::now();
    if (gateway_.replace(patch, now)) source_.set_universe(patch->universe);
    // The fixtures it brings take the loss look too; the loss time may have changed.
    if (watch_.silent() && patch->loss.look) gateway_.impose(*patch->loss.look, now);
    if (silence_timer_ != ola::thread::INVALID_TIMEOUT) ss_.RemoveTimeout(silence_timer_);
    silence_timer_ = ola::thread::INVALID_TIMEOUT;
    arm_silence();
    log_line(Priority::info, "SIGHUP: patch %s reloaded: %s", patch_path_.c_str(), describe(*patch).c_str());
    reloaded_(*patch);
}

void EventLoop::dmx(unsigned universe, std::span<const uint8_t> slots) {
    const Clock::time_point now = Clock::now();
    gateway_.offer(universe, slots, now);
    if (watch_.frame(now)) {
        log_line(Priority::notice, "DMX is back");
        publish_source();
    }
    if (silence_timer_ == ola::thread::INVALID_TIMEOUT) arm_silence();
}

// One timer for the source's silence, moved on only when it fires: a stream
// costs one wake-up per loss time.
void EventLoop::arm_silence() {
    const std::optional<Clock::time_point> due = watch_.deadline(gateway_.patch()->loss.after);
    if (!due) return;
    silence_timer_ = ss_.RegisterSingleTimeout(ola_interval(*due - Clock::now()),
                                               ola::NewSingleCallback(this, &EventLoop::silence_due));
}

void EventLoop::silence_due() {
    silence_timer_ = ola::thread::INVALID_TIMEOUT;
    const Clock::time_point now = Clock::now();
    const std::shared_ptr<const Patch> patch = gateway_.patch();
    if (!watch_.check(now, patch->loss.after)) return arm_silence();
    const double s = std::chrono::duration<double>(patch->loss.after).count();
    if (patch->loss.look) {
        log_line(Priority::warning, "no DMX for %.1f s: sending the loss look 0x%08X", s, patch->loss.look->colour);
        gateway_.impose(*patch->loss.look, now);
    } else {
        log_line(Priority::warning, "no DMX for %.1f s: holding the last look", s);
    }
    publish_source();
}

void EventLoop::publish_source() {
    gateway_.set_source(source_.state() == OlaSource::State::up, watch_.silent());
}

void EventLoop::status_now() { status_.tick(gateway_.snapshot(Clock::now())); }

bool EventLoop::status_due() {
    status_now();
    return true;
}

bool EventLoop::watchdog_due() {
    if (bus_alive(bus_.in_call_since(), Clock::now(), *watchdog_)) notify_watchdog();
    return true;
}

}  // namespace tivgate
