#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "sim/frame_decoder.h"
#include "tests/support/reference_frame.h"
#include "sim/protocol.h"
#include "tivlink/frame.h"

namespace {

using tivsim::DecodedFrame;
using tivsim::FrameKind;
using tivsim::Nanos;
using Bytes = std::vector<uint8_t>;

Bytes encode(uint32_t adr, uint8_t cmd, const Bytes& payload) {
    frame_encode(adr, cmd, payload.data(), (uint32_t)payload.size());
    return Bytes(tiv_sendbuf, tiv_sendbuf + tiv_six);
}

Bytes with_crc(Bytes logical) {
    uint16_t crc = tivref::crc16_bitwise(logical);
    logical.push_back((uint8_t)(crc >> 8));
    logical.push_back((uint8_t)crc);
    return logical;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<DecodedFrame> decode(const Bytes& wire) { return tivsim::decode_all(wire); }

unsigned count_escapable(const Bytes& logical) {
    unsigned n = 0;
    for (size_t i = 1; i < logical.size(); i++) n += logical[i] == 0xCA || logical[i] == 0xCB;
    return n;
}

void expect_round_trip(uint32_t adr, uint8_t cmd, const Bytes& payload) {
    const Bytes wire = encode(adr, cmd, payload);
    const Bytes logical = with_crc(tivref::logical_frame(adr & 0xFFFFFF, cmd, payload));
    const uint16_t crc = tivref::crc16_bitwise(tivref::logical_frame(adr & 0xFFFFFF, cmd, payload));
    auto out = decode(wire);
    ASSERT_EQ(out.size(), 1u);
    const DecodedFrame& f = out[0];
    EXPECT_EQ(f.kind, FrameKind::ok);
    EXPECT_EQ(f.address, adr & 0xFFFFFF);
    EXPECT_EQ(f.length, payload.size());
    EXPECT_EQ(f.command, cmd);
    EXPECT_EQ(f.payload, payload);
    EXPECT_EQ(f.crc_received, crc);
    EXPECT_EQ(f.crc_computed, crc);
    EXPECT_EQ(f.escapes, count_escapable(logical));
    EXPECT_EQ(f.wire, wire);
    EXPECT_EQ(f.logical, logical);
}

// Draws bytes with the two escapable values much more often than chance.
uint8_t biased_byte(std::mt19937& rng) {
    switch (rng() % 4) {
    case 0: return 0xCA;
    case 1: return 0xCB;
    default: return (uint8_t)rng();
    }
}

TEST(FrameDecoderRoundTrip, RandomFramesFromTheEncoder) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 3000; i++) {
        uint32_t adr = rng() % 3 == 0 ? (uint32_t)(biased_byte(rng) << 16 | biased_byte(rng) << 8 |
                                                   biased_byte(rng))
                                      : (uint32_t)rng();
        uint8_t cmd = biased_byte(rng);
        Bytes payload(rng() % 40);
        for (uint8_t& b : payload) b = biased_byte(rng);
        SCOPED_TRACE(testing::Message() << "frame " << i);
        expect_round_trip(adr, cmd, payload);
        if (HasFatalFailure()) return;
    }
}

// Finds a payload of `len` plain bytes whose CRC has the wanted escape profile.
Bytes payload_with_crc(size_t len, bool hi_escaped, bool lo_escaped, std::mt19937& rng) {
    for (;;) {
        Bytes payload(len);
        for (uint8_t& b : payload) b = (uint8_t)(rng() % 0xC0);
        uint16_t crc = tivref::crc16_bitwise(tivref::logical_frame(0x123456, 0x7E, payload));
        bool hi = (crc >> 8) == 0xCA || (crc >> 8) == 0xCB;
        bool lo = (crc & 0xFF) == 0xCA || (crc & 0xFF) == 0xCB;
        if (hi == hi_escaped && lo == lo_escaped) return payload;
    }
}

TEST(FrameDecoderRoundTrip, EveryFieldEscaped) {
    std::mt19937 rng(7);
    for (uint8_t v : {0xCA, 0xCB}) {
        expect_round_trip((uint32_t)v << 16 | 0x0101, 0x7E, {1});  // address high
        expect_round_trip(0x010000 | v << 8 | 1, 0x7E, {1});       // address middle
        expect_round_trip(0x010100 | v, 0x7E, {1});                // address low
        expect_round_trip(5, 0x7E, Bytes(v, 0x11));                // length low
        expect_round_trip(5, v, {1, 2});                           // command
        expect_round_trip(5, 0x7E, {v, v, v});                     // payload
    }
    for (auto [hi, lo] : {std::pair{true, false}, {false, true}, {true, true}}) {
        Bytes payload = payload_with_crc(4, hi, lo, rng);
        expect_round_trip(0x123456, 0x7E, payload);
    }
    expect_round_trip(216, 0xFE, {});  // CRC 0x2CCA: low byte escaped
}

TEST(FrameDecoderRoundTrip, LargestFramesTheLibraryCanSend) {
    std::mt19937 rng(99);
    // 990 plain payload bytes: 999 wire bytes.
    expect_round_trip(0x123456, 0x7E, payload_with_crc(990, false, false, rng));
    // ... and an escaped final CRC byte as the 1000th wire byte.
    Bytes payload = payload_with_crc(990, false, true, rng);
    Bytes wire = encode(0x123456, 0x7E, payload);
    ASSERT_EQ(wire.size(), 1000u);
    expect_round_trip(0x123456, 0x7E, payload);
}

TEST(FrameDecoderRoundTrip, StreamOfFramesKeepsOrderAndOffsets) {
    std::mt19937 rng(3);
    Bytes stream;
    std::vector<Bytes> wires;
    for (int i = 0; i < 200; i++) {
        Bytes payload(rng() % 8);
        for (uint8_t& b : payload) b = biased_byte(rng);
        wires.push_back(encode(rng(), biased_byte(rng), payload));
        stream.insert(stream.end(), wires.back().begin(), wires.back().end());
    }
    auto out = decode(stream);
    ASSERT_EQ(out.size(), wires.size());
    uint64_t offset = 0;
    for (size_t i = 0; i < out.size(); i++) {
        EXPECT_EQ(out[i].kind, FrameKind::ok) << i;
        EXPECT_EQ(out[i].wire, wires[i]) << i;
        EXPECT_EQ(out[i].offset, offset) << i;
        offset += wires[i].size();
    }
}

struct Malformed {
    const char* name;
    Bytes stream;
    std::vector<FrameKind> kinds;  // expected items, in order
    std::vector<Bytes> wires;      // their wire bytes
};

const Bytes kReset1 = {0xCA, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFE, 0x70, 0xF1};
const Bytes kBegin = {0xCA, 0x12, 0x34, 0x56, 0x00, 0x01, 0xFD, 0x00, 0x0D, 0xA3};

Bytes oversized_by_escapes() {
    // 990 payload bytes with two escapes: the CRC's high byte would start at
    // wire offset 999, where the library's buffer has no room.
    Bytes payload(990, 0x11);
    payload[0] = payload[1] = 0xCA;
    return tivref::stuff(with_crc(tivref::logical_frame(0x123456, 0x7E, payload)));
}

std::vector<Malformed> malformed_cases() {
    Bytes bad_crc = kBegin;
    bad_crc.back() ^= 0x01;
    Bytes bad_escape = {0xCA, 0x00, 0x00, 0x01, 0xCB, 0x02};
    Bytes tail = {0x00, 0xFE, 0x70};
    Bytes head = {0xCA, 0x12, 0x34, 0x56, 0x00};
    Bytes dangling = {0xCA, 0x00, 0x00, 0x01, 0xCB};
    Bytes too_long = {0xCA, 0x00, 0x00, 0x01, 0x03, 0xDF};  // length 991
    Bytes overflow = oversized_by_escapes();
    Bytes overflow_head(overflow.begin(), overflow.begin() + 1000);
    Bytes overflow_rest(overflow.begin() + 1000, overflow.end());
    Bytes noise = {0x01, 0x02, 0xCB, 0x00};
    return {
        {"bad_crc", concat({bad_crc, kReset1}), {FrameKind::bad_crc, FrameKind::ok}, {bad_crc, kReset1}},
        {"bad_escape_then_noise_until_next_start", concat({bad_escape, tail, kReset1}),
         {FrameKind::bad_escape, FrameKind::noise, FrameKind::ok}, {bad_escape, tail, kReset1}},
        {"truncated_by_start_byte", concat({head, kReset1}), {FrameKind::truncated, FrameKind::ok},
         {head, kReset1}},
        {"truncated_inside_escape_pair", concat({dangling, kReset1}),
         {FrameKind::truncated, FrameKind::ok}, {dangling, kReset1}},
        {"truncated_by_end_of_stream", concat({kReset1, head}),
         {FrameKind::ok, FrameKind::truncated}, {kReset1, head}},
        {"oversized_declared_length", concat({too_long, Bytes{0x7E, 0x01}, kReset1}),
         {FrameKind::oversized, FrameKind::noise, FrameKind::ok}, {too_long, {0x7E, 0x01}, kReset1}},
        {"oversized_by_escapes", concat({overflow, kReset1}),
         {FrameKind::oversized, FrameKind::noise, FrameKind::ok}, {overflow_head, overflow_rest, kReset1}},
        {"noise_before_a_frame", concat({noise, kBegin}), {FrameKind::noise, FrameKind::ok},
         {noise, kBegin}},
        {"noise_alone", noise, {FrameKind::noise}, {noise}},
    };
}

class FrameDecoderMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(FrameDecoderMalformed, ReportedInOrderWithTheirBytes) {
    const Malformed& m = GetParam();
    auto out = decode(m.stream);
    ASSERT_EQ(out.size(), m.kinds.size());
    uint64_t offset = 0;
    for (size_t i = 0; i < out.size(); i++) {
        EXPECT_EQ(out[i].kind, m.kinds[i]) << i << ": " << tivsim::frame_kind_name(out[i].kind);
        EXPECT_EQ(out[i].wire, m.wires[i]) << i;
        EXPECT_EQ(out[i].offset, offset) << i;
        offset += out[i].wire.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FrameDecoderMalformed, testing::ValuesIn(malformed_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameDecoderMalformedDetail, BadCrcCarriesBothValues) {
    Bytes wire = kBegin;
    wire.back() = 0xA4;
    auto out = decode(wire);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].crc_received, 0x0DA4);
    EXPECT_EQ(out[0].crc_computed, 0x0DA3);
    EXPECT_EQ(out[0].address, 0x123456u);
    EXPECT_EQ(out[0].command, 0xFD);
}

TEST(FrameDecoderMalformedDetail, TruncatedKeepsWhatArrived) {
    Bytes head = {0xCA, 0x00, 0x00, 0x05, 0x00, 0x02, 0x7E, 0xCB, 0x00};
    auto out = decode(concat({head, kReset1}));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].has_header());
    EXPECT_EQ(out[0].address, 5u);
    EXPECT_EQ(out[0].length, 2);
    EXPECT_EQ(out[0].payload, Bytes{0xCA});
    EXPECT_EQ(out[0].escapes, 1u);
}

Bytes mixed_stream() {
    std::mt19937 rng(11);
    Bytes stream = {0x55, 0xCB};
    for (int i = 0; i < 60; i++) {
        Bytes payload(rng() % 6);
        for (uint8_t& b : payload) b = biased_byte(rng);
        Bytes wire = encode(rng(), biased_byte(rng), payload);
        switch (i % 5) {
        case 1: wire.back() ^= 0x20; break;            // usually a bad CRC
        case 2: wire.resize(wire.size() / 2); break;   // truncated
        case 3: wire.insert(wire.begin() + 1, {0xCB, 0x07}); break;  // bad escape
        default: break;
        }
        stream.insert(stream.end(), wire.begin(), wire.end());
        if (i % 7 == 0) stream.insert(stream.end(), {0x00, 0x99});
    }
    Bytes big = oversized_by_escapes();
    stream.insert(stream.end(), big.begin(), big.end());
    return stream;
}

TEST(FrameDecoderFeeding, ByteAtATimeEqualsWholeBuffer) {
    const Bytes stream = mixed_stream();
    auto whole = decode(stream);
    ASSERT_GT(whole.size(), 60u);

    tivsim::FrameDecoder decoder;
    std::vector<DecodedFrame> single;
    for (uint8_t b : stream) decoder.feed(std::span(&b, 1), Nanos{0}, single);
    decoder.finish(single);
    EXPECT_EQ(single, whole);

    std::mt19937 rng(5);
    tivsim::FrameDecoder chunked_decoder;
    std::vector<DecodedFrame> chunked;
    for (size_t at = 0; at < stream.size();) {
        size_t n = std::min<size_t>(1 + rng() % 17, stream.size() - at);
        chunked_decoder.feed(std::span(stream.data() + at, n), Nanos{0}, chunked);
        at += n;
    }
    chunked_decoder.finish(chunked);
    EXPECT_EQ(chunked, whole);
}

TEST(FrameDecoderFeeding, TimesAreThoseOfFirstAndLastByte) {
    tivsim::FrameDecoder decoder;
    std::vector<DecodedFrame> out;
    decoder.feed(std::span(kBegin.data(), 3), Nanos{100}, out);
    decoder.feed(std::span(kBegin.data() + 3, 4), Nanos{200}, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(decoder.in_frame());
    decoder.feed(std::span(kBegin.data() + 7, 3), Nanos{300}, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].first_time, Nanos{100});
    EXPECT_EQ(out[0].last_time, Nanos{300});
}

TEST(FrameDecoderFeeding, NoiseWaitsForStartByteOrFlush) {
    tivsim::FrameDecoder decoder;
    std::vector<DecodedFrame> out;
    const Bytes noise = {1, 2, 3};
    decoder.feed(noise, Nanos{10}, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(decoder.has_noise());
    decoder.flush_noise(out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, FrameKind::noise);
    EXPECT_EQ(out[0].wire, noise);
    EXPECT_FALSE(decoder.has_noise());
}

}  // namespace
