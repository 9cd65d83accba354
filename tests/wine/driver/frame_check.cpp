#include "frame_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "sim/crc16_modbus.h"
#include "sim/protocol.h"

namespace {

void put_stuffed(std::vector<uint8_t>& wire, uint8_t byte) {
    if (byte == tivsim::kFrameStart || byte == tivsim::kFrameEsc) {
        wire.push_back(tivsim::kFrameEsc);
        wire.push_back(byte == tivsim::kFrameStart ? tivsim::kEscStart : tivsim::kEscEsc);
    } else {
        wire.push_back(byte);
    }
}

// The expected payload with unknown bytes taken from what arrived.
std::vector<uint8_t> resolve_payload(const ExpectedFrame& want, const tivsim::DecodedFrame& got) {
    std::vector<uint8_t> payload;
    for (size_t i = 0; i < want.payload.size(); i++) {
        bool known = want.payload[i] != kAnyByte;
        payload.push_back(known ? (uint8_t)want.payload[i] : i < got.payload.size() ? got.payload[i] : 0);
    }
    return payload;
}

double gap_ms(const tivsim::DecodedFrame& before, const tivsim::DecodedFrame& after) {
    return std::chrono::duration<double, std::milli>(after.first_time - before.last_time).count();
}

// How far the gap after frame i ran past the pause that belongs there.
double over_pause(const std::vector<tivsim::DecodedFrame>& got, const std::vector<ExpectedFrame>& want,
                  size_t i) {
    return gap_ms(got[i], got[i + 1]) - want[i].pause_ms;
}

// The line can hold frames back for a while on a loaded machine: the gap
// before a held frame runs long and the gaps after it run short by as much,
// until the line catches up. So a gap out of bounds is judged together with
// its neighbours, up to kCatchUpGaps of them, and only a shift that the next
// gaps (or the previous ones) do not undo is the library's.
constexpr size_t kCatchUpGaps = 3;

// Sum of over_pause for gaps from..to (inclusive), or nothing when the host
// paced one of them.
std::optional<double> over_sum(const std::vector<tivsim::DecodedFrame>& got,
                               const std::vector<ExpectedFrame>& want, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i <= to; i++) {
        if (want[i].pause_ms == kHostPaced) return std::nullopt;
        sum += over_pause(got, want, i);
    }
    return sum;
}

bool undone_before(const std::vector<tivsim::DecodedFrame>& got, const std::vector<ExpectedFrame>& want,
                   size_t i, double early) {
    for (size_t k = i > kCatchUpGaps ? i - kCatchUpGaps : 0; k < i; k++)
        if (auto sum = over_sum(got, want, k, i); sum && *sum >= -early) return true;
    return false;
}

bool undone_after(const std::vector<tivsim::DecodedFrame>& got, const std::vector<ExpectedFrame>& want,
                  size_t i, double late) {
    for (size_t j = i + 1; j <= i + kCatchUpGaps && j + 1 < std::min(got.size(), want.size()); j++)
        if (auto sum = over_sum(got, want, i, j); sum && *sum <= late) return true;
    return false;
}

void check_gap(const std::vector<tivsim::DecodedFrame>& got, const std::vector<ExpectedFrame>& want,
               size_t i, PauseStats* stats, GapTolerance tolerance,
               std::vector<std::string>& problems) {
    if (want[i].pause_ms == kHostPaced) return;
    double over = over_pause(got, want, i);
    double early = std::chrono::duration<double, std::milli>(tolerance.early).count();
    double late = std::chrono::duration<double, std::milli>(tolerance.late).count();
    if (stats && want[i].pause_ms > 0) stats->over_ms.push_back(over);
    bool cut_short = over < -early && !undone_before(got, want, i, early);
    bool run_long = over > late && !undone_after(got, want, i, late);
    if (cut_short || run_long) {
        char line[160];
        snprintf(line, sizeof line, "gap after frame %zu: %.2f ms, want %d ms", i,
                 over + want[i].pause_ms, want[i].pause_ms);
        problems.push_back(line);
    }
}

}  // namespace

std::vector<uint8_t> reference_frame(uint32_t address, uint8_t command,
                                     const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> logical = {tivsim::kFrameStart,
                                    (uint8_t)(address >> 16),
                                    (uint8_t)(address >> 8),
                                    (uint8_t)address,
                                    (uint8_t)(payload.size() >> 8),
                                    (uint8_t)payload.size(),
                                    command};
    logical.insert(logical.end(), payload.begin(), payload.end());
    uint16_t crc = tivsim::crc16_modbus(logical);
    logical.push_back((uint8_t)(crc >> 8));
    logical.push_back((uint8_t)crc);
    std::vector<uint8_t> wire = {tivsim::kFrameStart};
    for (size_t i = 1; i < logical.size(); i++) put_stuffed(wire, logical[i]);
    return wire;
}

std::vector<std::string> check_frames(const std::vector<tivsim::DecodedFrame>& got,
                                      const std::vector<ExpectedFrame>& want,
                                      PauseStats* stats, GapTolerance tolerance) {
    std::vector<std::string> problems;
    if (got.size() != want.size())
        problems.push_back("frames: got " + std::to_string(got.size()) + ", want " +
                           std::to_string(want.size()));
    size_t common = std::min(got.size(), want.size());
    for (size_t i = 0; i < common; i++) {
        std::vector<uint8_t> expected =
            reference_frame(want[i].address, want[i].command, resolve_payload(want[i], got[i]));
        if (got[i].kind != tivsim::FrameKind::ok)
            problems.push_back("frame " + std::to_string(i) + ": " + frame_kind_name(got[i].kind));
        if (got[i].wire != expected)
            problems.push_back("frame " + std::to_string(i) + ": wire " + hex(got[i].wire) +
                               ", want " + hex(expected));
    }
    for (size_t i = 0; i + 1 < common; i++) check_gap(got, want, i, stats, tolerance, problems);
    return problems;
}

PauseStats& wire_pause_stats() {
    static PauseStats stats;
    return stats;
}

PauseStats& host_pause_stats() {
    static PauseStats stats;
    return stats;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (uint8_t b : bytes) {
        snprintf(byte, sizeof byte, text.empty() ? "%02X" : " %02X", b);
        text += byte;
    }
    return text;
}
