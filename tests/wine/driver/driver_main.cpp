// Starts Wine once for the whole run, stages the hosts, and closes with how
// closely the library's pauses were kept.
#include <gtest/gtest.h>

#include <algorithm>
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

// Quantiles of how far pauses ran past their length; every value goes to a
// file for a closer look.
void print_pause_summary(const char* what, const PauseStats& stats, const std::string& file_name) {
    std::vector<double> over = stats.over_ms;
    if (over.empty()) return;
    std::sort(over.begin(), over.end());
    auto at = [&](double q) { return over[(size_t)(q * (double)(over.size() - 1))]; };
    printf("%s: %zu past their pause by min %.2f, median %.2f, p95 %.2f, max %.2f ms\n", what,
           over.size(), over.front(), at(0.5), at(0.95), over.back());
    std::string path = wine_paths().work + "/" + file_name;
    if (FILE* file = fopen(path.c_str(), "w")) {
        for (double ms : over) fprintf(file, "%.3f\n", ms);
        fclose(file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    int result = RUN_ALL_TESTS();
    print_pause_summary("gaps on the wire", wire_pause_stats(), "pause-gaps.txt");
    print_pause_summary("sends timed in the host", host_pause_stats(), "pause-sends.txt");
    return result;
}
