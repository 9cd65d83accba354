#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/frame_decoder.h"
#include "sim/frame_format.h"

namespace {

using namespace std::chrono_literals;
using tivsim::DecodedFrame;
using Bytes = std::vector<uint8_t>;

// Decodes `wire` with every byte 1 ms after the one before, starting at t0.
std::vector<DecodedFrame> decode_paced(const Bytes& wire, tivsim::Nanos t0) {
    tivsim::FrameDecoder decoder;
    std::vector<DecodedFrame> out;
    for (size_t i = 0; i < wire.size(); i++)
        decoder.feed(std::span(&wire[i], 1), t0 + std::chrono::milliseconds(i), out);
    decoder.finish(out);
    return out;
}

TEST(FrameFormat, OneLinePerItemWithTimeGapAndFields) {
    const Bytes wire = {
        0xCA, 0x12, 0x34, 0x56, 0x00, 0x01, 0xFD, 0x00, 0x0D, 0xA3,              // good
        0x01, 0x02,                                                              // noise
        0xCA, 0x00, 0x00, 0x01, 0x00, 0x03, 0x7D, 0x15, 0x00, 0xCB, 0x01, 0xE4, 0x48,  // bad CRC
        0xCA, 0x00, 0x00, 0x05, 0x00, 0x01, 0x42, 0x07, 0xAA, 0xBB,              // unknown command
        0xCA, 0x00, 0x00,                                                        // truncated
    };
    auto lines = tivsim::format_log(decode_paced(wire, 5s));
    const std::vector<std::string> want = {
        "    0.000000             -  123456  SETUP_BEGIN  [00]  crc 0DA3 ok  esc 0",
        "    0.010000      +1.000ms  NOISE  2 bytes  [01 02]",
        "    0.012000      +1.000ms  000001  XD_PROG      [15 00 CB]  crc E448 bad (E449)  esc 1",
        "    0.025000      +1.000ms  000005  CMD_42       [07]  crc AABB bad (8620)  esc 0",
        "    0.035000      +1.000ms  ------  -            TRUNCATED  wire [CA 00 00]  esc 0",
    };
    EXPECT_EQ(lines, want);
}

}  // namespace
