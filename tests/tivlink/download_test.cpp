// The background download on a simulated bus: frames, pauses, progress as
// the host sees it, stopping, and the worker's exit code.
#include <set>
#include <thread>

#include "tests/tivlink/bus_fixture.h"

namespace bus_test {
namespace {

class Download : public BusTest {
  protected:
    void fill(const Bytes& image, uint32_t start) {
        std::copy(image.begin(), image.end(), e2_data);
        e2_adr = start;
        e2_len = (uint32_t)image.size();
    }
    // Polls the progress until the worker clears the run flag.
    std::vector<int32_t> follow() {
        std::vector<int32_t> seen;
        auto end = std::chrono::steady_clock::now() + 30s;
        while (__atomic_load_n(&e2_cmd, __ATOMIC_SEQ_CST) == 1 && std::chrono::steady_clock::now() < end) {
            int32_t p = __atomic_load_n(&e2_percent, __ATOMIC_SEQ_CST);
            if (seen.empty() || seen.back() != p) seen.push_back(p);
            std::this_thread::sleep_for(1ms);
        }
        return seen;
    }
};

TEST_F(Download, ThreeBytesPublishProgressAndLandInEeprom) {
    fill({0xA0, 0xCA, 0xCB}, 100);
    __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
    auto start = std::chrono::steady_clock::now();
    void* worker = download(kDeviceA);
    ASSERT_NE(worker, nullptr);
    std::vector<int32_t> seen = follow();
    EXPECT_EQ(tiv_thread_join(worker), 0);
    // Begin 30 + 100, three bytes 30 + 50 each, reset 30 + 100.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 33, 66}));
    EXPECT_EQ(e2_percent, 0);
    EXPECT_EQ(e2_cmd, 0);

    auto got = frames(5);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].command, 0xFD);
    EXPECT_EQ(got[0].payload, Bytes{0x00});
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(got[1 + i].command, 0x7F);
        EXPECT_EQ(got[1 + i].payload, (Bytes{0x00, (uint8_t)(100 + i), e2_data[i]}));
    }
    EXPECT_EQ(got[4].command, 0xFE);
    for (const auto& f : got) EXPECT_EQ(f.address, kDeviceA);
    // 30 ms after every frame to a physical address, plus the download's own.
    EXPECT_GE(gap_ms(got, 1), 130 - kDeliveryJitterMs);
    for (int i = 2; i <= 4; i++) EXPECT_GE(gap_ms(got, i), 80 - kDeliveryJitterMs);
    for (int i = 1; i <= 4; i++) EXPECT_LT(gap_ms(got, i), (i == 1 ? 130 : 80) + 25);

    tivsim::DeviceState d = device(kDeviceA);
    EXPECT_EQ(d.eeprom[100], 0xA0);
    EXPECT_EQ(d.eeprom[101], 0xCA);
    EXPECT_EQ(d.eeprom[102], 0xCB);
    EXPECT_FALSE(d.setup_mode);
}

TEST_F(Download, ToGroupHasOnlyTheDownloadPauses) {
    fill({1, 2}, 16);
    __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
    EXPECT_EQ(tiv_thread_join(download(kGroupC)), 0);
    auto got = frames(4);
    EXPECT_GE(gap_ms(got, 1), 100 - kDeliveryJitterMs);
    EXPECT_LT(gap_ms(got, 1), 125);
    EXPECT_GE(gap_ms(got, 2), 50 - kDeliveryJitterMs);
    EXPECT_LT(gap_ms(got, 2), 75);
    EXPECT_EQ(device(kDeviceC).eeprom[16], 1);
    EXPECT_EQ(device(kDeviceC).eeprom[17], 2);
}

TEST_F(Download, StopBeforeNextByteStillSendsReset) {
    Bytes image(40);
    for (size_t i = 0; i < image.size(); i++) image[i] = (uint8_t)i;
    fill(image, 16);
    __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
    void* worker = download(kGroupAB);
    ASSERT_TRUE(bus.wait_frames(4, 5s));  // begin and three bytes
    __atomic_store_n(&e2_cmd, 0, __ATOMIC_SEQ_CST);
    size_t at_stop = bus.frames().size();
    EXPECT_EQ(tiv_thread_join(worker), 0);
    EXPECT_EQ(e2_percent, 0);
    ASSERT_TRUE(bus.wait_idle(150ms, 5s));
    auto got = bus.frames();
    // At most the byte under way when the flag fell, then the reset.
    EXPECT_LE(got.size(), at_stop + 2);
    EXPECT_EQ(got.back().command, 0xFE);
    size_t bytes = 0;
    for (const auto& f : got) bytes += f.command == 0x7F;
    EXPECT_LT(bytes, image.size());
    EXPECT_EQ(got.size(), bytes + 2);
}

TEST_F(Download, WithFlagClearSendsOnlyBeginAndReset) {
    fill({1, 2, 3}, 16);
    __atomic_store_n(&e2_cmd, 0, __ATOMIC_SEQ_CST);
    EXPECT_EQ(tiv_thread_join(download(kGroupAB)), 0);
    auto got = frames(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].command, 0xFD);
    EXPECT_EQ(got[1].command, 0xFE);
}

// A block the loader would refuse would overwrite the device's address in
// EEPROM 0..15 or wrap past its end: the worker refuses it before sending.
TEST_F(Download, BlocksOutsideTheLoaderLimitsSendNothing) {
    struct Block {
        uint32_t start, len;
        const char* box;
    };
    for (Block b : {Block{15, 2, "Transfer Error, Code: f, 2)"}, Block{0, 0, "Transfer Error, Code: 0, 0)"},
                    Block{2047, 2, "Transfer Error, Code: 7ff, 2)"},
                    Block{0xFFF0, 5000, "Transfer Error, Code: fff0, 5000)"},
                    Block{0xFFFFFFF0, 20, "Transfer Error, Code: fffffff0, 20)"}}) {
        SCOPED_TRACE(b.box);
        captured().clear();
        e2_adr = b.start;
        e2_len = b.len;
        __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
        EXPECT_EQ(tiv_thread_join(download(kDeviceC)), 1);
        EXPECT_EQ(e2_cmd, 0);
        EXPECT_EQ(captured().texts(), std::vector<std::string>{b.box});
    }
    EXPECT_TRUE(bus.wait_idle(100ms, 2s));
    EXPECT_EQ(bus.stats().bytes_received, 0u);
}

TEST_F(Download, SecondDownloadIsRefusedAndTheFirstGoesOn) {
    fill({1, 2, 3, 4, 5, 6}, 16);
    __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
    void* first = download(kGroupAB);
    ASSERT_TRUE(bus.wait_frames(2, 5s));
    void* second = download(kDeviceC);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(tiv_thread_join(second), 1);
    EXPECT_EQ(captured().texts(), std::vector<std::string>{"Download refused: a download is already running."});
    EXPECT_EQ(tiv_thread_join(first), 0);
    auto got = frames(8);
    ASSERT_EQ(got.size(), 8u);
    for (const auto& f : got) {
        EXPECT_EQ(f.kind, tivsim::FrameKind::ok);
        EXPECT_EQ(f.address, kGroupAB);
    }
    EXPECT_EQ(device(kDeviceA).eeprom[21], 6);
}

// The run flag falling to 0 is a host's sign that the next download may
// start: one started at once is never taken for a second download.
TEST_F(Download, NextDownloadMayStartAsSoonAsTheFlagFalls) {
    fill({9}, 16);
    std::vector<void*> workers;
    for (int i = 0; i < 3; i++) {
        __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
        workers.push_back(download(kGroupAB));
        while (__atomic_load_n(&e2_cmd, __ATOMIC_SEQ_CST) == 1) {
        }
    }
    for (void* worker : workers) EXPECT_EQ(tiv_thread_join(worker), 0);
    EXPECT_TRUE(captured().texts().empty());
}

// The frames of two senders never mix on the wire, whatever the host does.
TEST_F(Download, HostFramesDuringADownloadAllDecode) {
    fill(Bytes(12, 0xCA), 16);
    __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
    void* worker = download(kGroupAB);
    size_t sent = 0;
    while (__atomic_load_n(&e2_cmd, __ATOMIC_SEQ_CST) == 1) {
        set_rgbx(kGroupC, 0xCBCACBCA);
        sent += 3;
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(tiv_thread_join(worker), 0);
    auto got = frames(14 + sent);
    ASSERT_EQ(got.size(), 14 + sent);
    for (const auto& f : got) EXPECT_EQ(f.kind, tivsim::FrameKind::ok);
    EXPECT_TRUE(captured().texts().empty());
}

// A careless host closes or reopens while its download runs: the worker is
// stopped and waited for, so it never writes through a freed port record,
// and the device gets its closing reset.
TEST_F(Download, InitOrExitDuringADownloadStopItAfterItsReset) {
    for (bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "init" : "exit");
        fill(Bytes(40, 7), 16);
        __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
        void* worker = download(kGroupAB);
        ASSERT_TRUE(bus.wait_frames(bus.frames().size() + 3, 5s));
        if (reopen) {
            EXPECT_EQ(init_tiv3(kPort, 9600), 0);
        } else {
            exit_tiv3();
        }
        EXPECT_EQ(__atomic_load_n(&e2_cmd, __ATOMIC_SEQ_CST), 0);
        EXPECT_EQ(bus.frames().back().command, 0xFE);
        EXPECT_EQ(tiv_thread_join(worker), 0);
        EXPECT_FALSE(device(kDeviceA).setup_mode);
        if (!reopen) {
            EXPECT_EQ(init_tiv3(kPort, 9600), 0);
        }
    }
    EXPECT_TRUE(captured().texts().empty());
}

TEST_F(Download, StalledLineFailsTheExitCodeAndClearsTheFlag) {
    Bytes image(3, 0x77);
    fill(image, 16);
    bus.set_stalled(true);
    // Fill the line first so the download's frames cannot go out.
    Bytes big(990, 0x5A);
    for (int i = 0; i < 200 && tiv_frame_send(kGroupC, 0x7E, big.data(), 990) == 0; i++) {}
    captured().clear();
    __atomic_store_n(&e2_cmd, 1, __ATOMIC_SEQ_CST);
    void* worker = download(kGroupC);
    EXPECT_EQ(tiv_thread_join(worker), 1);
    EXPECT_EQ(e2_cmd, 0);
    EXPECT_EQ(e2_percent, 0);
    ASSERT_EQ(captured().texts().size(), 5u);
    for (const auto& box : captured().texts()) EXPECT_EQ(box, "COM4 - Write Error!");
    bus.set_stalled(false);
}

}  // namespace
}  // namespace bus_test
