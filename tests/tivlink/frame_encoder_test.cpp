#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/reference_frame.h"
#include "tivlink/frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(uint32_t adr, int32_t cmd, const Bytes& payload) {
    frame_encode(adr, cmd, payload.data(), (uint32_t)payload.size());
    return Bytes(tiv_sendbuf, tiv_sendbuf + tiv_six);
}

uint16_t crc_tables(const Bytes& data) {
    int32_t crc = 0xFFFF;
    for (size_t i = 0; i < data.size(); i++) crc = crc16_next(data[i], i == 0);
    return (uint16_t)crc;
}

// Undoes the stuffing of an encoded frame, failing on anything malformed.
Bytes unstuff(const Bytes& wire) {
    Bytes logical;
    EXPECT_FALSE(wire.empty());
    EXPECT_EQ(wire[0], 0xCA);
    logical.push_back(wire[0]);
    for (size_t i = 1; i < wire.size(); i++) {
        EXPECT_NE(wire[i], 0xCA) << "unescaped start byte at " << i;
        if (wire[i] == 0xCB) {
            EXPECT_LT(i + 1, wire.size());
            EXPECT_LE(wire[i + 1], 1);
            logical.push_back(wire[++i] == 0 ? 0xCA : 0xCB);
        } else {
            logical.push_back(wire[i]);
        }
    }
    return logical;
}

struct WorkedFrame {
    uint32_t adr;
    uint8_t cmd;
    Bytes payload;
    int32_t crc;
    Bytes wire;
};

class WorkedFrames : public testing::TestWithParam<WorkedFrame> {};

TEST_P(WorkedFrames, EncodeByteForByte) {
    const WorkedFrame& f = GetParam();
    EXPECT_EQ(encode(f.adr, f.cmd, f.payload), f.wire);
    Bytes logical = unstuff(f.wire);
    logical.resize(logical.size() - 2);
    EXPECT_EQ(crc_tables(logical), f.crc);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, WorkedFrames,
    testing::Values(
        WorkedFrame{1, CMD_RESET, {}, 0x70F1, {0xCA, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFE, 0x70, 0xF1}},
        WorkedFrame{0x123456, CMD_SETUP_BEGIN, {0x00}, 0x0DA3,
                    {0xCA, 0x12, 0x34, 0x56, 0x00, 0x01, 0xFD, 0x00, 0x0D, 0xA3}},
        WorkedFrame{5, CMD_LIGHT, {0x12, 0x01}, 0xC088,
                    {0xCA, 0x00, 0x00, 0x05, 0x00, 0x02, 0x7E, 0x12, 0x01, 0xC0, 0x88}},
        WorkedFrame{1, CMD_XD_PROG, {0x15, 0x00, 0xCB}, 0xE449,
                    {0xCA, 0x00, 0x00, 0x01, 0x00, 0x03, 0x7D, 0x15, 0x00, 0xCB, 0x01, 0xE4, 0x49}},
        WorkedFrame{216, CMD_RESET, {}, 0x2CCA,
                    {0xCA, 0x00, 0x00, 0xD8, 0x00, 0x00, 0xFE, 0x2C, 0xCB, 0x00}}));

TEST(Crc, CheckValueOfDigits) {
    std::string digits = "123456789";
    EXPECT_EQ(crc_tables(Bytes(digits.begin(), digits.end())), 0x4B37);
}

TEST(Crc, TablesAgreeWithBitwiseForEveryByteAfterEveryByte) {
    // Every table entry is reached as the index of some step here.
    for (int a = 0; a < 256; a++)
        for (int b = 0; b < 256; b += 17) {
            Bytes data{(uint8_t)a, (uint8_t)b, 0x5A};
            ASSERT_EQ(crc_tables(data), tivref::crc16_bitwise(data)) << a << "," << b;
        }
}

TEST(Crc, RestartFlagResetsRegister) {
    crc16_next(0x42, 1);
    crc16_next(0x17, 0);
    EXPECT_EQ(crc16_next('1', 1), tivref::crc16_bitwise({'1'}));
}

// The field that holds an escaped value, and the wire bytes it must become.
struct EscapeCase {
    const char* field;
    uint32_t adr;
    uint8_t cmd;
    Bytes payload;
    Bytes expected_prefix;  // wire bytes from the start, escapes included
};

class Escaping : public testing::TestWithParam<EscapeCase> {};

TEST_P(Escaping, FieldIsStuffedAndFrameRoundTrips) {
    const EscapeCase& c = GetParam();
    Bytes wire = encode(c.adr, c.cmd, c.payload);
    ASSERT_GE(wire.size(), c.expected_prefix.size());
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + c.expected_prefix.size()), c.expected_prefix)
        << c.field;
    Bytes logical = unstuff(wire);
    ASSERT_EQ(logical.size(), 9 + c.payload.size());
    Bytes covered(logical.begin(), logical.end() - 2);
    uint16_t crc = tivref::crc16_bitwise(covered);
    EXPECT_EQ(logical[logical.size() - 2], crc >> 8);
    EXPECT_EQ(logical[logical.size() - 1], crc & 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Escaping,
    testing::Values(
        EscapeCase{"address high", 0xCA0000, CMD_RESET, {}, {0xCA, 0xCB, 0x00, 0x00, 0x00}},
        EscapeCase{"address mid", 0x00CB00, CMD_RESET, {}, {0xCA, 0x00, 0xCB, 0x01, 0x00}},
        EscapeCase{"address low", 0x0000CA, CMD_RESET, {}, {0xCA, 0x00, 0x00, 0xCB, 0x00}},
        EscapeCase{"length low", 1, CMD_LIGHT, Bytes(0xCA, 0x11),
                   {0xCA, 0x00, 0x00, 0x01, 0x00, 0xCB, 0x00, 0x7E}},
        EscapeCase{"command", 1, 0xCB, {}, {0xCA, 0x00, 0x00, 0x01, 0x00, 0x00, 0xCB, 0x01}},
        EscapeCase{"command start value", 1, 0xCA, {},
                   {0xCA, 0x00, 0x00, 0x01, 0x00, 0x00, 0xCB, 0x00}},
        EscapeCase{"payload", 2, CMD_LIGHT, {0xCA, 0xCB, 0xCC},
                   {0xCA, 0x00, 0x00, 0x02, 0x00, 0x03, 0x7E, 0xCB, 0x00, 0xCB, 0x01, 0xCC}}));

// Payloads whose CRC has 0xCA or 0xCB in either byte, found by search.
TEST(Escaping, BothCrcBytesAreStuffed) {
    bool seen[2][2] = {};
    for (uint32_t v = 0; v < 65536; v++) {
        Bytes payload{(uint8_t)(v >> 8), (uint8_t)v};
        Bytes logical{0xCA, 0, 0, 9, 0, 2, CMD_LIGHT, payload[0], payload[1]};
        uint16_t crc = tivref::crc16_bitwise(logical);
        for (int which = 0; which < 2; which++) {
            uint8_t b = which == 0 ? crc >> 8 : crc & 0xFF;
            if (b != 0xCA && b != 0xCB) continue;
            Bytes wire = encode(9, CMD_LIGHT, payload);
            EXPECT_EQ(unstuff(wire).size(), 11u);
            Bytes expected_tail = {0xCB, (uint8_t)(b == 0xCA ? 0 : 1)};
            if (which == 1) {
                EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), expected_tail);
            } else {
                size_t tail = (crc & 0xFF) == 0xCA || (crc & 0xFF) == 0xCB ? 4 : 3;
                EXPECT_EQ(Bytes(wire.end() - tail, wire.end() - tail + 2), expected_tail);
            }
            seen[which][b - 0xCA] = true;
        }
    }
    for (auto& row : seen)
        for (bool s : row) EXPECT_TRUE(s);
}

TEST(Frame, AddressBitsAbove23AreDropped) {
    EXPECT_EQ(encode(0x01000001, CMD_RESET, {}), encode(1, CMD_RESET, {}));
    EXPECT_EQ(encode(0xFF123456, CMD_RESET, {}), encode(0x123456, CMD_RESET, {}));
}

TEST(Frame, OnlyLowCommandBitsAreSent) {
    EXPECT_EQ(encode(1, 0x1FE, {}), encode(1, CMD_RESET, {}));
}

TEST(Frame, EachFrameStartsAfresh) {
    Bytes first = encode(1, CMD_RESET, {});
    encode(0x123456, CMD_LIGHT, {1, 2, 3, 4, 5});
    EXPECT_EQ(encode(1, CMD_RESET, {}), first);
}

// A payload of `len` bytes with no value to escape anywhere, CRC included.
Bytes plain_payload(uint32_t len) {
    for (uint8_t fill = 0x10;; fill++) {
        Bytes payload(len, fill);
        encode(0x10203, CMD_LIGHT, payload);
        if (tiv_six == 9 + len) return payload;
    }
}

TEST(Frame, LargestPlainPayloadFills999Bytes) {
    Bytes payload = plain_payload(990);
    EXPECT_EQ(encode(0x10203, CMD_LIGHT, payload).size(), 999u);
}

TEST(FrameDeathTest, PayloadOf991StopsWithBufferReport) {
    Bytes payload = plain_payload(990);
    payload.push_back(payload[0]);
    EXPECT_EXIT(encode(0x10203, CMD_LIGHT, payload), testing::ExitedWithCode(1),
                "ASSERTION FAILED: 'tiv_six<SENDBUF-1': frame_encoder.cpp [0-9]+\n");
}

TEST(FrameDeathTest, EscapesLowerTheLimit) {
    Bytes payload(500, 0xCA);  // 1000 bytes of escapes before the CRC
    EXPECT_EXIT(encode(1, CMD_LIGHT, payload), testing::ExitedWithCode(1), "tiv_six<SENDBUF-1");
}

}  // namespace
