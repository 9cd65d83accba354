// Long runs over the simulated bus: connections opened and closed, short
// downloads started and joined, with descriptors, threads, handle records and
// heap checked against where they started. TIVLINK_INIT_CYCLES and
// TIVLINK_DOWNLOADS change the counts (smaller under valgrind, larger on demand).
#include <cstdlib>
#include <functional>

#include "tests/tivlink/bus_fixture.h"
#include "tests/tivlink/resources.h"

namespace bus_test {
namespace {

// A leak grows with the number of runs; state that the C library or the bus
// creates once (thread stack caches, log capacity) does not. So the second
// half of a run may not grow the heap by more than kHeapSlack, less than what
// a dozen runs would lose by leaking even the smallest record the library
// allocates; and the whole run stays within kHeapOnce.
constexpr size_t kHeapSlack = 256;
constexpr size_t kHeapOnce = 8192;

int count_from_env(const char* name, int fallback) {
    const char* text = getenv(name);
    int n = text ? atoi(text) : 0;
    return n > 0 ? n : fallback;
}

class Cycles : public BusTest {
  protected:
    // Runs `once` `runs` times after two runs that create lazily made state
    // (stdio buffers, the sanitizers' helper threads), then checks that
    // descriptors, threads, handle records and heap came back.
    void run_and_check(int runs, const std::function<void()>& once) {
        once();
        once();
        Resources before = Resources::now();
        size_t heap_before = heap_in_use(), heap_half = 0;
        for (int i = 0; i < runs && !HasFatalFailure(); i++) {
            if (i == runs / 2) heap_half = heap_in_use();
            once();
        }
        if (HasFatalFailure()) return;
        EXPECT_TRUE(Resources::settle_to(before)) << Resources::now().describe_against(before);
        size_t heap_after = heap_in_use();
        EXPECT_LE(heap_after, heap_half + kHeapSlack) << "second half grew the heap by " << heap_after - heap_half;
        EXPECT_LE(heap_after, heap_before + kHeapOnce) << "heap grew by " << heap_after - heap_before;
        EXPECT_TRUE(captured().texts().empty());
        RecordProperty("runs", runs);
        RecordProperty("heap_growth", (int)((long)heap_after - (long)heap_before));
        RecordProperty("heap_growth_second_half", (int)((long)heap_after - (long)heap_half));
    }
};

TEST_F(Cycles, InitExitCyclesGiveEverythingBack) {
    const int cycles = count_from_env("TIVLINK_INIT_CYCLES", 50);
    exit_tiv3();
    auto cycle = [this] {
        ASSERT_EQ(init_tiv3(kPort, 115200), 0);
        ASSERT_EQ(xd_reset(kGroupC), 0);  // the connection works
        ASSERT_TRUE(bus.wait_frames(1, 5s));
        bus.clear_log();
        exit_tiv3();
    };
    run_and_check(cycles, cycle);
    ASSERT_EQ(init_tiv3(kPort, 115200), 0);  // for the fixture's close
}

TEST_F(Cycles, ShortDownloadsGiveEverythingBack) {
    const int downloads = count_from_env("TIVLINK_DOWNLOADS", 100);
    e2_data[0] = 0xA5;
    e2_adr = 16;
    e2_len = 1;
    auto run = [this] {
        __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
        void* worker = download(kGroupC);
        ASSERT_NE(worker, nullptr);
        ASSERT_EQ(tiv_thread_join(worker), 0);
        ASSERT_TRUE(bus.wait_frames(3, 5s));  // begin, the byte, reset
        ASSERT_EQ(bus.frames().size(), 3u);
        bus.clear_log();
    };
    run_and_check(downloads, run);
    EXPECT_EQ(device(kDeviceC).eeprom[16], 0xA5);
}

}  // namespace
}  // namespace bus_test
