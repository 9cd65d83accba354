// What tivctl accepts for addresses, colours and the other numbers, and the
// reason it gives for what it refuses.
#include <gtest/gtest.h>

#include <functional>

#include "sim/crc16_modbus.h"
#include "tools/common/frame_fit.h"
#include "tools/common/number_parse.h"

namespace {

using tivtools::Parsed;
using Parser = std::function<Parsed<uint32_t>(std::string_view)>;

struct Accepted {
    const char* kind;
    Parser parse;
    const char* text;
    uint32_t value;
};

void PrintTo(const Accepted& a, std::ostream* os) { *os << a.kind << " " << a.text; }

class NumberAccepted : public testing::TestWithParam<Accepted> {};

TEST_P(NumberAccepted, GivesTheValue) {
    const Accepted& row = GetParam();
    auto got = row.parse(row.text);
    ASSERT_TRUE(got) << row.kind << " '" << row.text << "': " << got.error;
    EXPECT_EQ(*got.value, row.value) << row.kind << " '" << row.text << "'";
    EXPECT_TRUE(got.error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Tables, NumberAccepted,
    testing::Values(Accepted{"address", tivtools::parse_address, "0", 0},
                    Accepted{"address", tivtools::parse_address, "5", 5},
                    Accepted{"address", tivtools::parse_address, "0x12345", 0x12345},
                    Accepted{"address", tivtools::parse_address, "0XABCdef", 0xABCDEF},
                    Accepted{"address", tivtools::parse_address, "16777215", 0xFFFFFF},
                    Accepted{"address", tivtools::parse_address, "007", 7},
                    Accepted{"physical", tivtools::parse_physical_address, "0x10000", 0x10000},
                    Accepted{"physical", tivtools::parse_physical_address, "0xFFFFFF", 0xFFFFFF},
                    Accepted{"physical", tivtools::parse_physical_address, "random", 0},
                    Accepted{"physical", tivtools::parse_physical_address, "0", 0},
                    Accepted{"group", tivtools::parse_group, "1", 1},
                    Accepted{"group", tivtools::parse_group, "0xFF", 255},
                    Accepted{"program", tivtools::parse_program, "0", 0},
                    Accepted{"program", tivtools::parse_program, "7", 7},
                    Accepted{"program", tivtools::parse_program, "9", 9},
                    Accepted{"byte", tivtools::parse_byte, "0x7e", 0x7E},
                    Accepted{"byte", tivtools::parse_byte, "255", 255},
                    Accepted{"port", tivtools::parse_port, "9", 9},
                    Accepted{"baud", tivtools::parse_baud, "9600", 9600},
                    Accepted{"baud", tivtools::parse_baud, "115200", 115200},
                    Accepted{"baud", tivtools::parse_baud, "0x4B0", 1200},
                    Accepted{"colour", tivtools::parse_colour, "0x11223344", 0x11223344},
                    Accepted{"colour", tivtools::parse_colour, "287454020", 0x11223344},
                    Accepted{"colour", tivtools::parse_colour, "#11223344", 0x11223344},
                    Accepted{"colour", tivtools::parse_colour, "#aabbcc", 0xAABBCC00},
                    Accepted{"colour", tivtools::parse_colour, "0xFFFFFFFF", 0xFFFFFFFF},
                    Accepted{"colour", tivtools::parse_colour, "0", 0}));

struct Refused {
    const char* kind;
    Parser parse;
    const char* text;
    const char* reason;  // part of the one-line reason
};

void PrintTo(const Refused& r, std::ostream* os) { *os << r.kind << " " << r.text; }

class NumberRefused : public testing::TestWithParam<Refused> {};

TEST_P(NumberRefused, SaysWhyOnOneLine) {
    const Refused& row = GetParam();
    auto got = row.parse(row.text);
    ASSERT_FALSE(got) << row.kind << " '" << row.text << "' gave " << *got.value;
    EXPECT_NE(got.error.find(row.reason), std::string::npos) << got.error;
    EXPECT_NE(got.error.find(std::string("'") + row.text + "'"), std::string::npos) << got.error;
    EXPECT_EQ(got.error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, NumberRefused,
    testing::Values(Refused{"address", tivtools::parse_address, "0x1000000", "outside 0..0xFFFFFF"},
                    Refused{"address", tivtools::parse_address, "-1", "not a number"},
                    Refused{"address", tivtools::parse_address, "", "not a number"},
                    Refused{"address", tivtools::parse_address, "0x", "not a number"},
                    Refused{"address", tivtools::parse_address, "12ab", "not a number"},
                    Refused{"address", tivtools::parse_address, "0x12g", "not a hex number"},
                    Refused{"address", tivtools::parse_address, " 5", "not a number"},
                    Refused{"address", tivtools::parse_address, "99999999999999999999999", "outside 0..0xFFFFFF"},
                    Refused{"address", tivtools::parse_address, "0x100000000", "outside 0..0xFFFFFF"},
                    Refused{"device", tivtools::parse_device_address, "0x5", "outside 0x10000..0xFFFFFF"},
                    Refused{"physical", tivtools::parse_physical_address, "0xFFFF", "0x10000..0xFFFFFF"},
                    Refused{"physical", tivtools::parse_physical_address, "0x1000000", "0x10000..0xFFFFFF"},
                    Refused{"group", tivtools::parse_group, "0", "outside 1..255"},
                    Refused{"group", tivtools::parse_group, "256", "outside 1..255"},
                    Refused{"program", tivtools::parse_program, "8", "outside 0..7 and 9"},
                    Refused{"program", tivtools::parse_program, "10", "outside 0..7 and 9"},
                    Refused{"byte", tivtools::parse_byte, "0x100", "outside 0..255"},
                    Refused{"port", tivtools::parse_port, "0", "outside 1..9"},
                    Refused{"port", tivtools::parse_port, "12", "outside 1..9"},
                    Refused{"baud", tivtools::parse_baud, "1000", "does not divide 115200"},
                    Refused{"baud", tivtools::parse_baud, "230400", "outside 1..115200"},
                    Refused{"baud", tivtools::parse_baud, "0", "outside 1..115200"},
                    Refused{"colour", tivtools::parse_colour, "0x100000000", "larger than 0xFFFFFFFF"},
                    Refused{"colour", tivtools::parse_colour, "#1122334", "6 or 8 hex digits"},
                    Refused{"colour", tivtools::parse_colour, "#112233445", "6 or 8 hex digits"},
                    Refused{"colour", tivtools::parse_colour, "#11223G44", "not a hex number"},
                    Refused{"colour", tivtools::parse_colour, "red", "not a number"}));

TEST(HexBytes, AcceptsTheUsualSpellings) {
    const std::vector<uint8_t> two = {0x12, 0x01};
    for (const char* text : {"1201", "0x1201", "12:01", "0x12:01"})
        EXPECT_EQ(*tivtools::parse_hex_bytes(text).value, two) << text;
    EXPECT_EQ(*tivtools::parse_hex_bytes("cA").value, std::vector<uint8_t>{0xCA});
}

TEST(HexBytes, RefusesOddDigitsAndOtherCharacters) {
    for (const char* text : {"1", "123", "12:3", "", "0x", "zz", "12 01", "1:201"}) {
        auto got = tivtools::parse_hex_bytes(text);
        EXPECT_FALSE(got) << text;
        EXPECT_NE(got.error.find("payload"), std::string::npos) << got.error;
    }
}

TEST(Text, AddressesAndColoursPrintAsTheyAreTyped) {
    EXPECT_EQ(tivtools::address_text(0x10001), "0x010001");
    EXPECT_EQ(tivtools::colour_text(0x11223344), "#11223344");
    EXPECT_EQ(*tivtools::parse_colour(tivtools::colour_text(0xA0B0C0D0)).value, 0xA0B0C0D0u);
}

// The library stops the process on a frame past its buffer; tivctl must
// refuse exactly those frames and no others.
TEST(FrameFit, MatchesTheWorkedFrames) {
    EXPECT_EQ(tivtools::frame_wire_size(1, 0xFE, {}), 9u);
    const uint8_t prog[3] = {0x15, 0x00, 0xCB};
    EXPECT_EQ(tivtools::frame_wire_size(1, 0x7D, prog), 13u);  // one escape in the payload
    EXPECT_EQ(tivtools::frame_wire_size(216, 0xFE, {}), 10u);  // CRC low byte CA escaped
}

TEST(FrameFit, RefusesOnlyWhatWouldOverrunTheBuffer) {
    std::vector<uint8_t> payload(990, 0x00);
    std::vector<uint8_t> logical = {0xCA, 0x01, 0x00, 0x01, 0x03, 0xDE, 0x42};
    logical.insert(logical.end(), payload.begin(), payload.end());
    const uint16_t crc = tivsim::crc16_modbus(logical);
    ASSERT_TRUE((crc >> 8) < 0xCA && (crc & 0xFF) < 0xCA) << "premise: no escaped CRC byte";
    EXPECT_EQ(tivtools::frame_wire_size(0x10001, 0x42, payload), 999u);
    payload.push_back(0x00);
    EXPECT_EQ(tivtools::frame_wire_size(0x10001, 0x42, payload), 0u);
    // Escapes take room, whatever the CRC: 988 bytes with one escape fit,
    // with three the last CRC byte starts at 999 or later.
    std::vector<uint8_t> escaped(988, 0x00);
    escaped[0] = 0xCA;
    EXPECT_NE(tivtools::frame_wire_size(0x10001, 0x42, escaped), 0u);
    escaped[1] = 0xCB;
    escaped[2] = 0xCA;
    EXPECT_EQ(tivtools::frame_wire_size(0x10001, 0x42, escaped), 0u);
}

}  // namespace
