// The download display's figures: bytes from the library's percentage,
// time left from the pace so far, and lines that fit their width.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/common/progress.h"

namespace {

using tivtools::Millis;
using tivtools::ProgressSample;

// The worker publishes i * 100 / total before byte i; bytes_done must invert
// that for every i, so the display never runs ahead of or behind the wire.
TEST(Progress, BytesDoneInvertsTheWorkersPercentage) {
    for (uint32_t total : {1u, 3u, 7u, 16u, 99u, 100u, 101u, 333u, 2044u}) {
        for (uint32_t i = 0; i < total; i++) {
            const int percent = (int)(i * 100u / total);
            const uint32_t shown = tivtools::bytes_done(percent, total);
            EXPECT_LE(shown, i) << total << " " << i;
            EXPECT_EQ((int)(shown * 100u / total), percent) << total << " " << i;
        }
    }
    EXPECT_EQ(tivtools::bytes_done(0, 0), 0u);
}

// A worker stopped after sending k bytes last published (k - 1) * 100 /
// total (0 when it sent none): the range must hold k and only counts that
// publish the same percent, so the stop message says what went out.
TEST(Progress, BytesSentByAStoppedWorkerHoldsExactlyTheCountsOfItsPercent) {
    for (uint32_t total : {1u, 3u, 7u, 100u, 101u, 200u, 333u, 2044u}) {
        auto last_percent = [total](uint32_t k) { return k == 0 ? 0 : (int)((k - 1) * 100u / total); };
        for (uint32_t k = 0; k <= total; k++) {
            const tivtools::ByteRange range = tivtools::bytes_sent(last_percent(k), total);
            EXPECT_LE(range.low, k) << total << " " << k;
            EXPECT_GE(range.high, k) << total << " " << k;
            for (uint32_t other = range.low; other <= range.high; other++)
                EXPECT_EQ(last_percent(other), last_percent(k)) << total << " " << k << " " << other;
        }
    }
}

TEST(Progress, TimeLeftFollowsThePaceSoFar) {
    // 3-byte image at 66%: two bytes done in 160 ms, one to go.
    EXPECT_EQ(tivtools::time_left({66, 3, Millis(160), false}), Millis(80));
    EXPECT_FALSE(tivtools::time_left({0, 3, Millis(100), false}).has_value());
    EXPECT_EQ(tivtools::time_left({0, 3, Millis(900), true}), Millis(0));
}

TEST(Progress, ClockText) {
    EXPECT_EQ(tivtools::clock_text(Millis(0)), "0:00");
    EXPECT_EQ(tivtools::clock_text(Millis(65999)), "1:05");
    EXPECT_EQ(tivtools::clock_text(Millis(3600000)), "60:00");
    EXPECT_EQ(tivtools::clock_text(std::nullopt), "--:--");
}

TEST(Progress, PlainLineCarriesEveryFigure) {
    EXPECT_EQ(tivtools::progress_line({50, 16, Millis(640), false}),
              "download 50%, 8/16 bytes, 0:00 elapsed, 0:00 left");
    EXPECT_EQ(tivtools::progress_line({0, 16, Millis(1500), true}),
              "download 100%, 16/16 bytes, 0:01 elapsed, 0:00 left");
    EXPECT_EQ(tivtools::progress_line({3, 2000, Millis(5000), false}),
              "download 3%, 60/2000 bytes, 0:05 elapsed, 2:41 left");
}

TEST(Progress, BarFillsWithThePercentageAndFitsTheWidth) {
    for (int width : {20, 40, 80, 200}) {
        for (int percent : {0, 1, 50, 99}) {
            const std::string bar = tivtools::progress_bar({percent, 100, Millis(1000), false}, width);
            EXPECT_LE((int)bar.size(), width) << bar;
            EXPECT_EQ(bar.find('\n'), std::string::npos);
            EXPECT_NE(bar.find(std::to_string(percent) + "%"), std::string::npos) << bar;
            const size_t open = bar.find('['), close = bar.find(']');
            if (open == std::string::npos) continue;  // too narrow for a bar
            const size_t cells = close - open - 1;
            const size_t filled = std::count(bar.begin(), bar.end(), '#');
            EXPECT_EQ(filled, (size_t)percent * cells / 100) << bar;
        }
    }
    const std::string done = tivtools::progress_bar({0, 10, Millis(800), true}, 80);
    EXPECT_EQ(done.find('-'), std::string::npos) << "a finished bar is full: " << done;
    EXPECT_NE(done.find("100%"), std::string::npos) << done;
}

}  // namespace
