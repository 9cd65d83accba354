#include "sim/sim_bus.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "sim/com_env.h"
#include "sim/noise_source.h"

namespace tivsim {

namespace {

using std::chrono::milliseconds;

std::chrono::steady_clock::time_point to_time_point(Nanos t) {
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(t));
}

// Poll time-out in whole milliseconds, rounded up so we never spin early.
int poll_timeout(Nanos wait) {
    if (wait == Nanos::max()) return -1;
    if (wait <= Nanos{0}) return 0;
    auto ms = std::chrono::ceil<milliseconds>(wait).count();
    return (int)std::min<long long>(ms, INT_MAX);
}

constexpr size_t kReadChunk = 4096;
constexpr Nanos kNoiseTick = milliseconds(1);

}  // namespace

// What the reader thread acts on for one round, copied under the mutex.
struct SimBus::LoopInputs {
    bool stop = false;
    bool stalled = false;
    bool echo = false;
    bool line_failed = false;
    std::shared_ptr<const Responder> responder;
    std::shared_ptr<CaptureWriter> capture;
    std::optional<NoiseRequest> noise;  // newly requested
};

// Bytes on their way to the library.
struct SimBus::Outgoing {
    std::vector<uint8_t> bytes;
    size_t written = 0;  // bytes[0..written) are gone
    uint64_t sent = 0;   // counters not yet published
    uint64_t dropped = 0;

    bool empty() const { return written == bytes.size(); }
    void add(std::span<const uint8_t> more, size_t limit) {
        if (empty()) {
            bytes.clear();
            written = 0;
        }
        const size_t room = limit - std::min(limit, bytes.size() - written);
        const size_t taken = std::min(room, more.size());
        bytes.insert(bytes.end(), more.begin(), more.begin() + taken);
        dropped += more.size() - taken;
    }
};

// The reader thread's own state.
struct SimBus::Reader {
    Outgoing out;
    std::optional<NoiseSource> noise;
    Nanos last_receive{0};  // time of the last chunk read
};

SimBus::SimBus(SimBusOptions options) : options_(options) {
    wake_fd_.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_fd_) throw std::system_error(errno, std::generic_category(), "eventfd");
    replug();
}

SimBus::~SimBus() {
    stop_reader();
    stop_capture();
    for (int n : bound_coms_) unset_com_env(n);
}

std::string SimBus::slave_path() const {
    std::lock_guard lock(mutex_);
    return slave_path_;
}

void SimBus::bind_com(int n) {
    set_com_env(n, slave_path());
    std::lock_guard lock(mutex_);
    if (std::find(bound_coms_.begin(), bound_coms_.end(), n) == bound_coms_.end())
        bound_coms_.push_back(n);
}

bool SimBus::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

void SimBus::drop() {
    if (!plugged()) return;
    stop_reader();
    std::vector<DecodedFrame> rest;
    decoder_.finish(rest);
    publish(rest, 0, Nanos{0});
    // Closing the master hangs up the slave for everyone who has it open.
    line_.master.reset();
    line_.slave_hold.reset();
    std::lock_guard lock(mutex_);
    plugged_ = false;
    stats_.bytes_dropped += outbox_.size();
    outbox_.clear();
    noise_request_.reset();
    send_busy_ = false;
    changed_.notify_all();
}

void SimBus::replug() {
    drop();
    PtyLine line = open_pty_line();
    std::vector<int> coms;
    {
        std::lock_guard lock(mutex_);
        slave_path_ = line.slave_path;
        coms = bound_coms_;
        plugged_ = true;
        line_failed_ = false;
    }
    line_ = std::move(line);
    for (int n : coms) set_com_env(n, line_.slave_path);
    start_reader();
}

std::vector<DecodedFrame> SimBus::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<DecodedFrame> SimBus::frames() const {
    std::lock_guard lock(mutex_);
    std::vector<DecodedFrame> frames;
    for (const DecodedFrame& f : log_)
        if (f.kind != FrameKind::noise) frames.push_back(f);
    return frames;
}

void SimBus::clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

SimBusStats SimBus::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

bool SimBus::wait_until(const LogPredicate& done, Nanos timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, to_time_point(monotonic_now() + timeout),
                               [&] { return done(log_); });
}

bool SimBus::wait_stats(const StatsPredicate& done, Nanos timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, to_time_point(monotonic_now() + timeout),
                               [&] { return done(stats_); });
}

bool SimBus::wait_frames(size_t n, Nanos timeout) const {
    return wait_until(
        [n](const std::vector<DecodedFrame>& log) {
            return (size_t)std::count_if(log.begin(), log.end(), [](const DecodedFrame& f) {
                       return f.kind != FrameKind::noise;
                   }) >= n;
        },
        timeout);
}

bool SimBus::wait_idle(Nanos quiet, Nanos timeout) const {
    std::unique_lock lock(mutex_);
    const Nanos start = monotonic_now();
    const Nanos deadline = start + timeout;
    for (;;) {
        const Nanos since = std::max(stats_.last_receive, start);
        const Nanos now = monotonic_now();
        if (now - since >= quiet) return true;
        if (now >= deadline) return false;
        changed_.wait_until(lock, to_time_point(std::min(since + quiet, deadline)));
    }
}

bool SimBus::wait_sent(Nanos timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, to_time_point(monotonic_now() + timeout), [&] {
        return outbox_.empty() && !noise_request_ && !send_busy_;
    });
}

void SimBus::set_stalled(bool stalled) {
    {
        std::lock_guard lock(mutex_);
        stalled_ = stalled;
    }
    wake();
}

void SimBus::set_echo(bool echo) {
    {
        std::lock_guard lock(mutex_);
        echo_ = echo;
    }
    wake();
}

void SimBus::set_responder(Responder responder) {
    auto shared = responder ? std::make_shared<const Responder>(std::move(responder)) : nullptr;
    {
        std::lock_guard lock(mutex_);
        responder_ = std::move(shared);
    }
    wake();
}

void SimBus::send(std::span<const uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        outbox_.insert(outbox_.end(), bytes.begin(), bytes.end());
    }
    wake();
}

void SimBus::send_noise(double bytes_per_second, Nanos duration, uint32_t seed) {
    {
        std::lock_guard lock(mutex_);
        noise_request_ = NoiseRequest{bytes_per_second, duration, seed};
    }
    wake();
}

bool SimBus::start_capture(const std::string& path) {
    auto writer = std::make_shared<CaptureWriter>();
    if (!writer->open(path, monotonic_now())) return false;
    std::shared_ptr<CaptureWriter> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(capture_, writer);
    }
    if (old) old->close();
    wake();
    return true;
}

void SimBus::stop_capture() {
    std::shared_ptr<CaptureWriter> old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(capture_);
    }
    // The reader may still hold the writer for this round; closed, it writes nothing.
    if (old) old->close();
}

void SimBus::wake() const {
    const uint64_t one = 1;
    // A full counter (EAGAIN) still leaves the eventfd readable: the wake is not lost.
    [[maybe_unused]] ssize_t n = ::write(wake_fd_.get(), &one, sizeof one);
}

void SimBus::start_reader() {
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    reader_ = std::thread(&SimBus::reader_loop, this);
}

void SimBus::stop_reader() {
    if (!reader_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake();
    reader_.join();
}

SimBus::LoopInputs SimBus::take_inputs(Outgoing& out) {
    std::lock_guard lock(mutex_);
    LoopInputs in;
    in.stop = stop_;
    in.stalled = stalled_;
    in.echo = echo_;
    in.line_failed = line_failed_;
    in.responder = responder_;
    in.capture = capture_;
    in.noise = std::exchange(noise_request_, std::nullopt);
    out.add(outbox_, options_.send_limit);
    outbox_.clear();
    // Set in the same step that empties the outbox, so wait_sent never sees a gap.
    send_busy_ = send_busy_ || !out.empty() || in.noise.has_value();
    return in;
}

// Frames are stamped when their read returns, so a reader that the
// scheduler wakes late makes the gap before the next frame look short. Where
// the process may (root), the reader runs at a real-time priority; it only
// ever blocks in poll, so it cannot starve the rest of the machine.
static void raise_reader_priority() {
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void SimBus::reader_loop() {
    raise_reader_priority();
    Reader r;
    for (;;) {
        LoopInputs in = take_inputs(r.out);
        if (in.stop) return;
        const Nanos now = monotonic_now();
        prepare_round(in, r, now);
        finish_round(r.out, r.noise.has_value());
        wait_and_move(in, r, now);
    }
}

// Everything that is due without the line: noise to send, noise to log.
void SimBus::prepare_round(const LoopInputs& in, Reader& r, Nanos now) {
    if (in.noise) r.noise.emplace(in.noise->bytes_per_second, now, in.noise->duration, in.noise->seed);
    if (in.line_failed) {  // nothing more reaches the library
        r.out.dropped += r.out.bytes.size() - r.out.written;
        r.out.written = r.out.bytes.size();
        r.noise.reset();
    }
    if (r.noise) {
        std::vector<uint8_t> due;
        r.noise->take_due(now, due);
        r.out.add(due, options_.send_limit);
        if (r.noise->done()) r.noise.reset();
    }
    if (decoder_.has_noise() && now - r.last_receive >= options_.noise_flush_after) {
        std::vector<DecodedFrame> flushed;
        decoder_.flush_noise(flushed);
        publish(flushed, 0, now);
    }
}

// Sleeps until the line can move, a knob changes or a time falls due.
void SimBus::wait_and_move(const LoopInputs& in, Reader& r, Nanos now) {
    short events = 0;
    if (!in.line_failed && !in.stalled) events |= POLLIN;
    if (!in.line_failed && !r.out.empty()) events |= POLLOUT;
    pollfd fds[2] = {{wake_fd_.get(), POLLIN, 0}, {line_.master.get(), events, 0}};
    Nanos wait = Nanos::max();
    if (decoder_.has_noise()) wait = r.last_receive + options_.noise_flush_after - now;
    if (r.noise) wait = std::min(wait, std::max(r.noise->next_due() - now, kNoiseTick));
    if (poll(fds, events ? 2 : 1, poll_timeout(wait)) < 0) return;  // EINTR
    if (fds[0].revents & POLLIN) {
        uint64_t count;
        [[maybe_unused]] ssize_t n = ::read(wake_fd_.get(), &count, sizeof count);
        return;  // take the changed knobs before touching the line
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) receive(in, r);
    if (fds[1].revents & POLLOUT) transmit(in, r.out);
}

void SimBus::receive(const LoopInputs& in, Reader& r) {
    uint8_t buf[kReadChunk];
    const ssize_t n = ::read(line_.master.get(), buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        mark_line_failed();
        return;
    }
    const Nanos t = monotonic_now();
    r.last_receive = t;
    const std::span<const uint8_t> chunk(buf, (size_t)n);
    if (in.capture) in.capture->write(t, Direction::rx, chunk);
    if (in.echo) r.out.add(chunk, options_.send_limit);
    std::vector<DecodedFrame> items;
    decoder_.feed(chunk, t, items);
    if (in.responder)
        for (const DecodedFrame& item : items) r.out.add((*in.responder)(item), options_.send_limit);
    publish(items, chunk.size(), t);
}

void SimBus::transmit(const LoopInputs& in, Outgoing& out) {
    const std::span<const uint8_t> rest(out.bytes.data() + out.written, out.bytes.size() - out.written);
    const ssize_t n = ::write(line_.master.get(), rest.data(), rest.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        mark_line_failed();
        return;
    }
    if (in.capture) in.capture->write(monotonic_now(), Direction::tx, rest.first((size_t)n));
    out.written += (size_t)n;
    out.sent += (uint64_t)n;
}

// Publishes the send counters and whether bytes are still on their way.
void SimBus::finish_round(Outgoing& out, bool noise_running) {
    std::lock_guard lock(mutex_);
    stats_.bytes_sent += std::exchange(out.sent, 0);
    stats_.bytes_dropped += std::exchange(out.dropped, 0);
    send_busy_ = !out.empty() || noise_running;
    changed_.notify_all();
}

void SimBus::publish(std::vector<DecodedFrame>& items, size_t bytes, Nanos t) {
    // Devices first: whoever sees a frame in the log also sees its effect.
    for (const DecodedFrame& item : items) devices_.apply(item);
    std::lock_guard lock(mutex_);
    if (bytes > 0) {
        stats_.bytes_received += bytes;
        stats_.reads++;
        stats_.last_receive = t;
    }
    for (DecodedFrame& item : items) log_.push_back(std::move(item));
    items.clear();
    changed_.notify_all();
}

void SimBus::mark_line_failed() {
    std::lock_guard lock(mutex_);
    line_failed_ = true;
    changed_.notify_all();
}

}  // namespace tivsim
