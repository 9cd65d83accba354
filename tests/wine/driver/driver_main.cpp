// Starts Wine once for the whole run, stages the hosts, and closes with how
// closely the library's pauses were kept.
#include <gtest/gtest.h>

#include <cstdio>

#include "frame_check.h"
#include "wine_session.h"

namespace {

class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(wine_start(reason)) << reason;
        stage_hosts("hosts");
    }
    void TearDown() override { wine_stop(); }
};

void print_pause_summary() {
    const PauseStats& s = pause_stats();
    if (s.count == 0) return;
    printf("pauses under Wine: %d gaps checked, each past its pause by %.2f..%.2f ms (mean %.2f)\n",
           s.count, s.min_ms, s.max_ms, s.sum_ms / s.count);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    int result = RUN_ALL_TESTS();
    print_pause_summary();
    return result;
}
