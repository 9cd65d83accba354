#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/capture_file.h"

namespace {

using tivsim::CaptureRecord;
using tivsim::Direction;
using tivsim::Nanos;

TEST(CaptureFile, RecordLinesRoundTrip) {
    const std::vector<CaptureRecord> records = {
        {Nanos{0}, Direction::rx, {0xCA, 0x00, 0xFF}},
        {Nanos{123456789012}, Direction::tx, {0x06}},
        {Nanos{5}, Direction::rx, {}},
    };
    EXPECT_EQ(tivsim::format_capture_record(records[0]), "0 rx CA 00 FF");
    for (const CaptureRecord& r : records) {
        auto parsed = tivsim::parse_capture_record(tivsim::format_capture_record(r));
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(*parsed, r);
    }
}

TEST(CaptureFile, BadLinesAreRefused) {
    for (const char* line : {"", "12", "12 up CA", "x rx CA", "12 rx C", "12 rx CAB", "12 rx  CA",
                             "12 rx GG", "12rx CA"}) {
        EXPECT_FALSE(tivsim::parse_capture_record(line).has_value()) << "'" << line << "'";
    }
}

TEST(CaptureFile, WriterAndReaderAgree) {
    const std::string path = testing::TempDir() + "capture_file_test.txt";
    const Nanos origin{1'000'000'000};
    const uint8_t a[] = {0xCA, 0x01}, b[] = {0x55};
    {
        tivsim::CaptureWriter writer;
        ASSERT_TRUE(writer.open(path, origin));
        writer.write(origin + Nanos{10}, Direction::rx, a);
        writer.write(origin + Nanos{2500}, Direction::tx, b);
        writer.close();
        writer.write(origin + Nanos{9999}, Direction::rx, a);  // after close: not written
        EXPECT_FALSE(writer.good());
    }
    std::vector<CaptureRecord> records;
    std::string error;
    ASSERT_TRUE(tivsim::read_capture(path, records, error)) << error;
    const std::vector<CaptureRecord> want = {
        {Nanos{10}, Direction::rx, {0xCA, 0x01}},
        {Nanos{2500}, Direction::tx, {0x55}},
    };
    EXPECT_EQ(records, want);
    std::remove(path.c_str());
}

TEST(CaptureFile, ReaderNamesTheBadLine) {
    const std::string path = testing::TempDir() + "capture_file_bad.txt";
    {
        std::ofstream out(path);
        out << "tivsim-capture 1\n# a comment\n\n10 rx CA\n20 rx ZZ\n";
    }
    std::vector<CaptureRecord> records;
    std::string error;
    EXPECT_FALSE(tivsim::read_capture(path, records, error));
    EXPECT_NE(error.find(":5:"), std::string::npos) << error;
    {
        std::ofstream out(path);
        out << "10 rx CA\n";
    }
    EXPECT_FALSE(tivsim::read_capture(path, records, error));
    EXPECT_NE(error.find("not a capture file"), std::string::npos) << error;
    std::remove(path.c_str());
    EXPECT_FALSE(tivsim::read_capture(path, records, error));
}

}  // namespace
