// The frame encoder with its table CRC, beside the same encoder with a
// bit-by-bit CRC-16/MODBUS, for the library's own frame sizes and the
// largest frame the buffer holds. `x_line` is how many times faster than a
// 115200-baud line (11520 bytes/s) the encoder turns out wire bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "bench/stats.h"
#include "tests/support/reference_frame.h"
#include "tivlink/frame.h"

namespace {

constexpr uint32_t kAddress = 0x123456;
constexpr int kLineBaud = 115200;
constexpr uint32_t kLargest = 990;  // payload of the largest frame without escapes

// Payload bytes without 0xCA/0xCB, so the largest frame fills 999 bytes.
std::vector<uint8_t> payload(uint32_t n) {
    std::vector<uint8_t> p(n);
    for (uint32_t i = 0; i < n; i++) p[i] = (uint8_t)((i * 7 + 1) & 0x7F);
    return p;
}

// The reference encoder: the same single pass with the CRC computed bit by
// bit, into a buffer of its own.
struct BaselineFrame {
    uint8_t buf[2 * (kLargest + 9)];
    uint32_t six = 0;

    void encode(uint32_t adr, uint8_t cmd, const uint8_t* data, uint32_t len) {
        six = (uint32_t)tivref::encode(adr, cmd, data, len, buf);
    }
};

void set_counters(benchmark::State& state, uint32_t wire_bytes) {
    double iterations = (double)state.iterations();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed((int64_t)(iterations * wire_bytes));
    state.counters["wire_bytes"] = wire_bytes;
    state.counters["x_line"] =
        benchmark::Counter(iterations * wire_bytes / tivbench::line_bytes_per_second(kLineBaud),
                           benchmark::Counter::kIsRate);
}

void BM_FrameEncode(benchmark::State& state) {
    std::vector<uint8_t> p = payload((uint32_t)state.range(0));
    for (auto _ : state) {
        frame_encode(kAddress, CMD_LIGHT, p.data(), (uint32_t)p.size());
        benchmark::DoNotOptimize(tiv_sendbuf);
        benchmark::ClobberMemory();
    }
    set_counters(state, tiv_six);
}

void BM_BaselineEncode(benchmark::State& state) {
    std::vector<uint8_t> p = payload((uint32_t)state.range(0));
    static BaselineFrame frame;
    for (auto _ : state) {
        frame.encode(kAddress, CMD_LIGHT, p.data(), (uint32_t)p.size());
        benchmark::DoNotOptimize(frame.buf);
        benchmark::ClobberMemory();
    }
    set_counters(state, frame.six);
}

// The CRC alone over the largest frame's logical bytes.
void BM_Crc16Table(benchmark::State& state) {
    std::vector<uint8_t> p = payload((uint32_t)state.range(0));
    for (auto _ : state) {
        int32_t crc = 0;
        for (size_t i = 0; i < p.size(); i++) crc = crc16_next(p[i], i == 0);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * (int64_t)p.size()));
}

void BM_Crc16Bitwise(benchmark::State& state) {
    std::vector<uint8_t> p = payload((uint32_t)state.range(0));
    for (auto _ : state) {
        uint16_t crc = tivref::crc16_bitwise(p);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * (int64_t)p.size()));
}

// Payload sizes the library sends: reset 0, setup begin 1, light mode 2,
// EEPROM writes, fade and program 3, colours 5; then the largest frame.
void frame_sizes(benchmark::internal::Benchmark* b) {
    for (int n : {0, 1, 2, 3, 5, (int)kLargest}) b->Arg(n);
    b->ArgName("payload");
}

BENCHMARK(BM_FrameEncode)->Apply(frame_sizes);
BENCHMARK(BM_BaselineEncode)->Apply(frame_sizes);
BENCHMARK(BM_Crc16Table)->Arg(kLargest + 7)->ArgName("bytes");
BENCHMARK(BM_Crc16Bitwise)->Arg(kLargest + 7)->ArgName("bytes");

}  // namespace

int main(int argc, char** argv) {
    // The largest frame must fill the buffer without a fatal stop.
    std::vector<uint8_t> p = payload(kLargest);
    frame_encode(kAddress, CMD_LIGHT, p.data(), kLargest);
    if (tiv_six != SENDBUF - 1) {
        std::fprintf(stderr, "largest frame is %u bytes, expected %u\n", tiv_six, SENDBUF - 1);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
