#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "sim/capture_file.h"
#include "sim/com_env.h"
#include "sim/frame_format.h"
#include "sim/sim_bus.h"
#include "sim/unique_fd.h"
#include "tivlink/frame.h"

namespace {

using namespace std::chrono_literals;
using tivsim::DecodedFrame;
using tivsim::FrameKind;
using tivsim::Nanos;
using tivsim::SimBus;
using tivsim::UniqueFd;
using Bytes = std::vector<uint8_t>;

constexpr Nanos kTimeout = 5s;

Bytes encode(uint32_t adr, uint8_t cmd, const Bytes& payload) {
    frame_encode(adr, cmd, payload.data(), (uint32_t)payload.size());
    return Bytes(tiv_sendbuf, tiv_sendbuf + tiv_six);
}

// Opens the slave the way a program on the other side would: raw, non-blocking.
UniqueFd open_slave(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    EXPECT_TRUE(fd) << path << ": " << errno;
    termios tio{};
    tcgetattr(fd.get(), &tio);
    cfmakeraw(&tio);
    tcsetattr(fd.get(), TCSANOW, &tio);
    return fd;
}

void write_all(int fd, const Bytes& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ASSERT_GT(poll(&p, 1, 2000), 0) << "slave not writable";
            continue;
        }
        ASSERT_GT(n, 0) << errno;
        at += (size_t)n;
    }
}

// Reads from the slave until `count` bytes came or the time is up.
Bytes read_slave(int fd, size_t count, Nanos timeout = kTimeout) {
    Bytes got;
    const Nanos deadline = tivsim::monotonic_now() + timeout;
    while (got.size() < count) {
        Nanos left = deadline - tivsim::monotonic_now();
        if (left <= Nanos{0}) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, (int)std::chrono::ceil<std::chrono::milliseconds>(left).count()) <= 0)
            break;
        uint8_t buf[4096];
        ssize_t n = read(fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

std::string dump(const std::vector<DecodedFrame>& log) {
    std::string text;
    for (const std::string& line : tivsim::format_log(log)) text += line + "\n";
    return text;
}

size_t noise_bytes(const std::vector<DecodedFrame>& log) {
    size_t n = 0;
    for (const DecodedFrame& f : log)
        if (f.kind == FrameKind::noise) n += f.wire.size();
    return n;
}

TEST(SimBusLine, SlaveWritesAreLoggedWithTimesAndGaps) {
    SimBus bus;
    size_t dev = bus.devices().add_device(0x100001, 3);
    UniqueFd slave = open_slave(bus.slave_path());
    const std::vector<Bytes> frames = {
        encode(0x100001, CMD_LIGHT, {0x00, 0x11, 0x22, 0x33, 0x44}),
        encode(3, CMD_XD_PROG, {0x15, 0x00, 0xCB}),
        encode(216, CMD_RESET, {}),
    };
    const std::vector<Nanos> pauses = {40ms, 80ms};
    const Nanos before = tivsim::monotonic_now();
    for (size_t i = 0; i < frames.size(); i++) {
        write_all(slave.get(), frames[i]);
        if (i < pauses.size()) std::this_thread::sleep_for(pauses[i]);  // the gap under test
    }
    ASSERT_TRUE(bus.wait_frames(3, kTimeout));
    const Nanos after = tivsim::monotonic_now();

    auto log = bus.log();
    ASSERT_EQ(log.size(), 3u) << dump(log);
    for (size_t i = 0; i < log.size(); i++) {
        EXPECT_EQ(log[i].kind, FrameKind::ok) << dump(log);
        EXPECT_EQ(log[i].wire, frames[i]);
        EXPECT_LE(before, log[i].first_time);
        EXPECT_LE(log[i].first_time, log[i].last_time);
        EXPECT_LE(log[i].last_time, after);
    }
    for (size_t i = 0; i < pauses.size(); i++) {
        Nanos gap = log[i + 1].first_time - log[i].last_time;
        EXPECT_GE(gap, pauses[i] - 5ms) << dump(log);
        EXPECT_LT(gap, pauses[i] + 1s) << dump(log);
    }
    auto state = bus.devices().device(dev);
    EXPECT_EQ(state.channels, (tivsim::Colour{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(state.program, 1);
    EXPECT_EQ(bus.stats().bytes_received, frames[0].size() + frames[1].size() + frames[2].size());
}

TEST(SimBusLine, FrameSplitAcrossWritesHasFirstAndLastByteTimes) {
    SimBus bus;
    UniqueFd slave = open_slave(bus.slave_path());
    Bytes frame = encode(0x123456, CMD_SETUP_BEGIN, {0x00});
    write_all(slave.get(), Bytes(frame.begin(), frame.begin() + 4));
    std::this_thread::sleep_for(30ms);  // the pause inside the frame under test
    write_all(slave.get(), Bytes(frame.begin() + 4, frame.end()));
    ASSERT_TRUE(bus.wait_frames(1, kTimeout));
    auto log = bus.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, FrameKind::ok);
    EXPECT_GE(log[0].last_time - log[0].first_time, 25ms);
}

TEST(SimBusLine, MalformedAndNoiseAreLogged) {
    SimBus bus;
    UniqueFd slave = open_slave(bus.slave_path());
    Bytes bad = encode(5, CMD_LIGHT, {0x12, 0x01});
    bad.back() ^= 0xFF;
    write_all(slave.get(), {0x01, 0x02});
    write_all(slave.get(), bad);
    write_all(slave.get(), {0x03, 0x04, 0x05});  // trailing noise, logged once the line is quiet
    ASSERT_TRUE(bus.wait_until([](const auto& log) { return log.size() >= 3; }, kTimeout));
    auto log = bus.log();
    ASSERT_EQ(log.size(), 3u) << dump(log);
    EXPECT_EQ(log[0].kind, FrameKind::noise);
    EXPECT_EQ(log[1].kind, FrameKind::bad_crc);
    EXPECT_EQ(log[2].kind, FrameKind::noise);
    EXPECT_EQ(log[2].wire, (Bytes{0x03, 0x04, 0x05}));
    EXPECT_EQ(bus.frames().size(), 1u);
}

TEST(SimBusLine, WaitIdleNeedsQuietAndIsBounded) {
    SimBus bus;
    UniqueFd slave = open_slave(bus.slave_path());
    const Bytes frame = encode(1, CMD_RESET, {});
    std::atomic<bool> run{true};
    std::thread chatter([&] {
        while (run) {
            write_all(slave.get(), frame);
            std::this_thread::sleep_for(10ms);
        }
    });
    const Nanos start = tivsim::monotonic_now();
    EXPECT_FALSE(bus.wait_idle(100ms, 300ms));
    EXPECT_GE(tivsim::monotonic_now() - start, 300ms);
    run = false;
    chatter.join();
    const Nanos quiet_from = tivsim::monotonic_now();
    EXPECT_TRUE(bus.wait_idle(50ms, kTimeout));
    EXPECT_GE(tivsim::monotonic_now() - quiet_from, 40ms);
}

TEST(SimBusKnobs, StalledLineBlocksTheSlaveUntilDrainedAgain) {
    SimBus bus;
    bus.set_stalled(true);
    UniqueFd slave = open_slave(bus.slave_path());
    const Bytes chunk(1024, 0x00);
    size_t written = 0;
    bool blocked = false;
    while (written < (8u << 20)) {
        ssize_t n = write(slave.get(), chunk.data(), chunk.size());
        if (n < 0) {
            ASSERT_EQ(errno, EAGAIN);
            blocked = true;
            break;
        }
        written += (size_t)n;
    }
    EXPECT_TRUE(blocked) << written << " bytes went through a stalled line";
    RecordProperty("bytes_before_eagain", (int)written);
    EXPECT_EQ(bus.stats().bytes_received, 0u);

    bus.set_stalled(false);
    ASSERT_TRUE(bus.wait_until([&](const auto& log) { return noise_bytes(log) == written; },
                               kTimeout))
        << bus.stats().bytes_received << " of " << written;
}

TEST(SimBusKnobs, EchoSendsEveryReceivedByteBack) {
    SimBus bus;
    bus.set_echo(true);
    UniqueFd slave = open_slave(bus.slave_path());
    Bytes stream = encode(0x123456, CMD_SETUP_BEGIN, {0x00});
    stream.push_back(0x77);
    write_all(slave.get(), stream);
    EXPECT_EQ(read_slave(slave.get(), stream.size()), stream);
    EXPECT_TRUE(bus.wait_sent(kTimeout));
    EXPECT_EQ(bus.stats().bytes_sent, stream.size());
}

TEST(SimBusKnobs, SendAndCannedAnswersReachTheSlave) {
    SimBus bus;
    bus.set_responder([](const DecodedFrame& f) {
        return f.kind == FrameKind::ok && f.command == CMD_RESET ? Bytes{0x06, f.command} : Bytes{};
    });
    UniqueFd slave = open_slave(bus.slave_path());
    const Bytes hello = {0xAA, 0x55};
    bus.send(hello);
    EXPECT_EQ(read_slave(slave.get(), 2), hello);
    write_all(slave.get(), encode(9, CMD_LIGHT, {0x12, 0x01}));
    write_all(slave.get(), encode(9, CMD_RESET, {}));
    EXPECT_EQ(read_slave(slave.get(), 2), (Bytes{0x06, CMD_RESET}));
    EXPECT_TRUE(read_slave(slave.get(), 1, 50ms).empty()) << "answer to a frame not asked for";
}

TEST(SimBusKnobs, NoiseFloodKeepsItsRateAndLength) {
    SimBus bus;
    UniqueFd slave = open_slave(bus.slave_path());
    const Nanos start = tivsim::monotonic_now();
    bus.send_noise(20000, 200ms, 7);  // 4000 bytes over 200 ms
    Bytes got = read_slave(slave.get(), 4000);
    ASSERT_TRUE(bus.wait_sent(kTimeout));
    const Nanos took = tivsim::monotonic_now() - start;
    EXPECT_EQ(got.size(), 4000u);
    EXPECT_EQ(bus.stats().bytes_sent, 4000u);
    EXPECT_GE(took, 180ms);
    EXPECT_LT(took, 2s);
    EXPECT_TRUE(read_slave(slave.get(), 1, 50ms).empty());
}

TEST(SimBusKnobs, SendsBeyondTheLimitAreDroppedAndCounted) {
    tivsim::SimBusOptions options;
    options.send_limit = 1000;
    SimBus bus(options);
    const Bytes many(5000, 0x11);
    // At most 1000 of each batch can be waiting; the rest is dropped at once.
    bus.send(many);
    bus.send(many);
    bus.send(many);
    EXPECT_TRUE(bus.wait_stats([](const auto& s) { return s.bytes_dropped >= 12000; }, kTimeout))
        << bus.stats().bytes_dropped;
    ASSERT_TRUE(bus.wait_sent(kTimeout));
    auto stats = bus.stats();
    EXPECT_EQ(stats.bytes_sent + stats.bytes_dropped, 15000u);
}

TEST(SimBusUnplug, DropHangsUpTheSlaveAndReplugWorksAgain) {
    SimBus bus;
    bus.bind_com(7);
    const std::string first = bus.slave_path();
    EXPECT_EQ(getenv("TIVLINK_COM7"), first);
    UniqueFd slave = open_slave(first);
    const Bytes frame = encode(0x100001, CMD_LIGHT, {0x12, 0x01});
    write_all(slave.get(), Bytes(frame.begin(), frame.begin() + 5));  // cut by the unplug

    ASSERT_TRUE(bus.wait_stats([](const auto& s) { return s.bytes_received == 5; }, kTimeout));
    bus.drop();
    EXPECT_FALSE(bus.plugged());
    pollfd p{slave.get(), POLLOUT, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    errno = 0;
    EXPECT_EQ(write(slave.get(), frame.data(), frame.size()), -1);
    EXPECT_EQ(errno, EIO);
    auto log = bus.log();
    ASSERT_EQ(log.size(), 1u) << dump(log);
    EXPECT_EQ(log[0].kind, FrameKind::truncated);

    bus.replug();
    EXPECT_TRUE(bus.plugged());
    EXPECT_EQ(getenv("TIVLINK_COM7"), bus.slave_path());
    UniqueFd again = open_slave(bus.slave_path());
    write_all(again.get(), frame);
    ASSERT_TRUE(bus.wait_frames(2, kTimeout));
    EXPECT_EQ(bus.log().back().wire, frame);
}

TEST(SimBusUnplug, DestructorStopsPromptlyAndUnbindsCom) {
    const Nanos start = tivsim::monotonic_now();
    {
        SimBus bus;
        bus.bind_com(8);
        EXPECT_NE(getenv("TIVLINK_COM8"), nullptr);
        bus.set_stalled(true);
        bus.send(Bytes(1 << 20, 0x00));  // stuck: nobody reads the slave
        bus.send_noise(1000, 10s);
    }
    EXPECT_LT(tivsim::monotonic_now() - start, 1s);
    EXPECT_EQ(getenv("TIVLINK_COM8"), nullptr);
}

Nanos process_cpu_time() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + Nanos(ts.tv_nsec);
}

TEST(SimBusUnplug, ReaderSleepsWhileNothingCanMove) {
    SimBus bus;
    UniqueFd slave = open_slave(bus.slave_path());
    write_all(slave.get(), {0x01, 0x02});  // noise waiting to be flushed
    bus.send(Bytes(1 << 18, 0x00));         // more than the slave's input can hold
    ASSERT_TRUE(bus.wait_stats([](const auto& s) { return s.bytes_sent > 0; }, kTimeout));
    const Nanos cpu = process_cpu_time();
    std::this_thread::sleep_for(300ms);  // the idle period under test
    EXPECT_LT(process_cpu_time() - cpu, 30ms);
    EXPECT_FALSE(bus.wait_sent(0s));
    EXPECT_EQ(noise_bytes(bus.log()), 2u);
}

TEST(SimBusCapture, BothDirectionsLandInTheFile) {
    const std::string path = testing::TempDir() + "sim_bus_capture.txt";
    SimBus bus;
    ASSERT_TRUE(bus.start_capture(path));
    UniqueFd slave = open_slave(bus.slave_path());
    const Bytes frames = [] {
        Bytes a = encode(1, CMD_RESET, {});
        Bytes b = encode(0x1234CA, CMD_LIGHT, {0x00, 1, 2, 3, 4});
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }();
    write_all(slave.get(), frames);
    ASSERT_TRUE(bus.wait_frames(2, kTimeout));
    bus.send(Bytes{0x42, 0x43});
    ASSERT_EQ(read_slave(slave.get(), 2).size(), 2u);
    ASSERT_TRUE(bus.wait_sent(kTimeout));
    bus.stop_capture();

    std::vector<tivsim::CaptureRecord> records;
    std::string error;
    ASSERT_TRUE(tivsim::read_capture(path, records, error)) << error;
    Bytes rx, tx;
    for (const auto& r : records) {
        Bytes& to = r.direction == tivsim::Direction::rx ? rx : tx;
        to.insert(to.end(), r.bytes.begin(), r.bytes.end());
        EXPECT_GE(r.time, Nanos{0});
    }
    EXPECT_EQ(rx, frames);
    EXPECT_EQ(tx, (Bytes{0x42, 0x43}));
    std::remove(path.c_str());
}

}  // namespace
