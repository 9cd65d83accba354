// The checker itself: its encoder against the protocol's worked frames, and
// each kind of difference it must report.
#include <gtest/gtest.h>

#include "frame_check.h"

using std::chrono::milliseconds;

namespace {

struct WorkedFrame {
    uint32_t address;
    uint8_t command;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> wire;
};

const WorkedFrame kWorkedFrames[] = {
    {1, 0xFE, {}, {0xCA, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFE, 0x70, 0xF1}},
    {0x123456, 0xFD, {0x00}, {0xCA, 0x12, 0x34, 0x56, 0x00, 0x01, 0xFD, 0x00, 0x0D, 0xA3}},
    {5, 0x7E, {0x12, 0x01}, {0xCA, 0x00, 0x00, 0x05, 0x00, 0x02, 0x7E, 0x12, 0x01, 0xC0, 0x88}},
    {1, 0x7D, {0x15, 0x00, 0xCB},
     {0xCA, 0x00, 0x00, 0x01, 0x00, 0x03, 0x7D, 0x15, 0x00, 0xCB, 0x01, 0xE4, 0x49}},
    {216, 0xFE, {}, {0xCA, 0x00, 0x00, 0xD8, 0x00, 0x00, 0xFE, 0x2C, 0xCB, 0x00}},
};

TEST(FrameCheck, ReferenceEncoderGivesTheWorkedFrames) {
    for (const auto& f : kWorkedFrames)
        EXPECT_EQ(hex(reference_frame(f.address, f.command, f.payload)), hex(f.wire));
}

// Decoded frames as the bus would log them, frame i arriving at times[i].
std::vector<tivsim::DecodedFrame> arrivals(const std::vector<ExpectedFrame>& frames,
                                           const std::vector<int>& times_ms) {
    std::vector<tivsim::DecodedFrame> log;
    for (size_t i = 0; i < frames.size(); i++) {
        std::vector<uint8_t> payload;
        for (int b : frames[i].payload) payload.push_back((uint8_t)b);
        auto wire = reference_frame(frames[i].address, frames[i].command, payload);
        auto decoded = tivsim::decode_all(wire, milliseconds(times_ms[i]));
        log.insert(log.end(), decoded.begin(), decoded.end());
    }
    return log;
}

const std::vector<ExpectedFrame> kSent = {
    {0x10000, 0xFD, {0x00}, 200},
    {0x10000, 0xFB, {0x00, 0x12, 0x07}, 50},
    {7, 0xFE, {}, 0},
    {7, 0x7E, {0x12, 0x01}, 0},
};

TEST(FrameCheck, AcceptsTheFramesAndGapsItExpects) {
    EXPECT_TRUE(check_frames(arrivals(kSent, {0, 200, 251, 252}), kSent).empty());
}

TEST(FrameCheck, ReportsEachKindOfDifference) {
    struct Case {
        const char* what;
        std::vector<ExpectedFrame> sent;
        std::vector<int> times_ms;
        const char* report;
    };
    auto wrong_value = kSent;
    wrong_value[1].payload[2] = 0x08;
    auto missing = kSent;
    missing.pop_back();
    const Case cases[] = {
        {"a wrong byte", wrong_value, {0, 200, 251, 252}, "frame 1: wire"},
        {"a missing frame", missing, {0, 200, 251}, "frames: got 3, want 4"},
        {"a pause cut short", kSent, {0, 190, 241, 242}, "gap after frame 0"},
        {"a later pause cut short", kSent, {0, 200, 240, 241}, "gap after frame 1"},
        {"a frame logged late", kSent, {0, 208, 251, 252}, ""},
        {"a pause run long", kSent, {0, 200, 290, 291}, "gap after frame 1"},
        {"a pause where none belongs", kSent, {0, 200, 251, 290}, "gap after frame 2"},
    };
    for (const auto& c : cases) {
        auto problems = check_frames(arrivals(c.sent, c.times_ms), kSent);
        std::string all;
        for (const auto& p : problems) all += p + "\n";
        if (*c.report)
            EXPECT_NE(all.find(c.report), std::string::npos) << c.what << ":\n" << all;
        else
            EXPECT_TRUE(all.empty()) << c.what << ":\n" << all;
    }
}

TEST(FrameCheck, FramesHeldBackByTheLineAreNotBlamedOnTheLibrary) {
    std::vector<ExpectedFrame> sent(6, {0x10000, 0xFE, {}, 50});
    // Sent every 50 ms; the line held frames 2 to 4 back and let them go in a burst.
    EXPECT_TRUE(check_frames(arrivals(sent, {0, 50, 200, 201, 202, 250}), sent).empty());
    // A burst that the following gaps do not make up for is the library's.
    EXPECT_FALSE(check_frames(arrivals(sent, {0, 50, 100, 101, 102, 150}), sent).empty());
}

TEST(FrameCheck, UnknownBytesAreTakenFromTheWireAndStillChecked) {
    std::vector<ExpectedFrame> want = {{3, 0xFB, {0x00, 0xC6, kAnyByte}, 0}};
    std::vector<ExpectedFrame> sent = {{3, 0xFB, {0x00, 0xC6, 0xCA}, 0}};
    EXPECT_TRUE(check_frames(arrivals(sent, {0}), want).empty());
    sent[0].payload[1] = 0xC7;
    EXPECT_FALSE(check_frames(arrivals(sent, {0}), want).empty());
}

}  // namespace
