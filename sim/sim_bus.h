// The simulated bus: a pseudo-terminal whose slave the library opens as a
// COM port, a reader thread on the master that decodes and logs every frame
// with its times and applies it to the device model, and knobs for the
// faults tests need (stalled line, bytes sent back, unplugged line).
//
// Threads: control calls (constructor, destructor, bind_com, drop, replug)
// come from one thread; everything else may be called from any thread. The
// reader thread owns the pty master and the decoder while it runs; the log,
// the counters and the knobs are shared under the bus's mutex.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/capture_file.h"
#include "sim/device_model.h"
#include "sim/frame_decoder.h"
#include "sim/pty_line.h"
#include "sim/sim_clock.h"
#include "sim/unique_fd.h"

namespace tivsim {

struct SimBusOptions {
    // A run of noise is logged once the line has been quiet this long (or
    // at the next start byte).
    Nanos noise_flush_after = std::chrono::milliseconds(20);
    // Bytes waiting to go to the library beyond this are dropped and counted.
    size_t send_limit = 1 << 20;
};

struct SimBusStats {
    uint64_t bytes_received = 0;  // from the library
    uint64_t bytes_sent = 0;      // to the library
    uint64_t bytes_dropped = 0;   // over send_limit
    uint64_t reads = 0;           // read() calls that returned data
    Nanos last_receive{0};        // time of the last chunk received; 0: none yet
};

// Called on the reader thread for every logged item; returns the bytes to
// send back (none: empty). Must not block and must not call drop/replug.
using Responder = std::function<std::vector<uint8_t>(const DecodedFrame&)>;

// Predicates run under the bus's mutex: they must not call the bus.
using LogPredicate = std::function<bool(const std::vector<DecodedFrame>&)>;
using StatsPredicate = std::function<bool(const SimBusStats&)>;

struct NoiseRequest {
    double bytes_per_second;
    Nanos duration;
    uint32_t seed;
};

class SimBus {
public:
    explicit SimBus(SimBusOptions options = {});  // throws std::system_error
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    // The line
    std::string slave_path() const;
    void bind_com(int n);  // sets TIVLINK_COM<n> to the slave, now and after every replug
    bool plugged() const;
    void drop();    // closes the master: the library's side sees a hang-up
    void replug();  // a new pty (new slave path), bound COM variables updated

    DeviceModel& devices() { return devices_; }

    // The log: frames (good or malformed) and noise, in arrival order.
    std::vector<DecodedFrame> log() const;
    std::vector<DecodedFrame> frames() const;  // the log without noise
    void clear_log();
    SimBusStats stats() const;

    // Waits, bounded by timeout; true when the condition was met.
    bool wait_frames(size_t n, Nanos timeout) const;  // n non-noise items logged
    bool wait_idle(Nanos quiet, Nanos timeout) const;  // nothing received for `quiet`
    bool wait_until(const LogPredicate& done, Nanos timeout) const;
    bool wait_stats(const StatsPredicate& done, Nanos timeout) const;
    bool wait_sent(Nanos timeout) const;  // everything queued so far, noise included, written

    // Knobs
    void set_stalled(bool stalled);  // stop draining the master
    void set_echo(bool echo);        // send every received byte back
    void set_responder(Responder responder);
    void send(std::span<const uint8_t> bytes);
    void send_noise(double bytes_per_second, Nanos duration, uint32_t seed = 1);

    // Raw bytes both ways into a capture file, until stop_capture.
    bool start_capture(const std::string& path);
    void stop_capture();

private:
    struct LoopInputs;
    struct Outgoing;
    struct Reader;
    void start_reader();
    void stop_reader();
    void reader_loop();
    LoopInputs take_inputs(Outgoing& out);
    void prepare_round(const LoopInputs& in, Reader& r, Nanos now);
    void wait_and_move(const LoopInputs& in, Reader& r, Nanos now);
    void receive(const LoopInputs& in, Reader& r);
    void transmit(const LoopInputs& in, Outgoing& out);
    void finish_round(Outgoing& out, bool noise_running);
    void publish(std::vector<DecodedFrame>& items, size_t bytes, Nanos t);
    void mark_line_failed();
    void wake() const;

    const SimBusOptions options_;
    DeviceModel devices_;
    UniqueFd wake_fd_;  // eventfd: knobs changed or stop requested
    PtyLine line_;      // master owned by the reader thread while it runs
    FrameDecoder decoder_;  // reader thread only; drop() after the join
    std::thread reader_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    // Guarded by mutex_:
    std::vector<DecodedFrame> log_;
    SimBusStats stats_;
    std::vector<int> bound_coms_;
    std::string slave_path_;
    bool plugged_ = false;
    bool stop_ = false;
    bool stalled_ = false;
    bool echo_ = false;
    bool line_failed_ = false;  // master read/write failed; no longer polled
    bool send_busy_ = false;    // the reader thread holds bytes not yet written
    std::shared_ptr<const Responder> responder_;
    std::vector<uint8_t> outbox_;
    std::optional<NoiseRequest> noise_request_;
    std::shared_ptr<CaptureWriter> capture_;
};

}  // namespace tivsim
