// Image files the loader refuses, with a connection open to a bus: each row
// gets its exact box and -1, and nothing goes out on the line.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "tests/tivlink/bus_fixture.h"

namespace bus_test {
namespace {

Bytes image_file(size_t image_len, uint32_t start) {
    Bytes b(image_len, 0x3C);
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back((uint8_t)(start >> shift));
    return b;
}

std::string write_file(const std::string& path, const Bytes& content) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return path;
    if (!content.empty()) fwrite(content.data(), 1, content.size(), f);
    fclose(f);
    return path;
}

struct BadFileRow {
    const char* name;
    std::function<std::string(const std::string& dir)> make;  // gives the path to load
    std::function<std::string(const std::string& path)> box;
};

class BadImageFile : public BusTest, public testing::WithParamInterface<BadFileRow> {
  protected:
    void SetUp() override {
        BusTest::SetUp();
        dir = testing::TempDir() + "bad_input_" + std::to_string(getpid()) + "_" + GetParam().name;
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
        BusTest::TearDown();
    }
    std::string dir;
};

TEST_P(BadImageFile, IsRefusedWithItsBoxAndNothingIsSent) {
    const BadFileRow& row = GetParam();
    std::string path = row.make(dir);
    EXPECT_EQ(load_e2_file(path.c_str()), -1);
    EXPECT_EQ(captured().texts(), std::vector<std::string>{row.box(path)});
    EXPECT_TRUE(bus.wait_idle(100ms, 2s));
    EXPECT_EQ(bus.stats().bytes_received, 0u);
    EXPECT_TRUE(bus.log().empty());
}

std::function<std::string(const std::string&)> sized(size_t size) {
    return [size](const std::string& dir) {
        return write_file(dir + "/image.bin", size >= 4 ? image_file(size - 4, 16) : Bytes(size, 0x10));
    };
}

std::function<std::string(const std::string&)> starting_at(size_t image_len, uint32_t start) {
    return [=](const std::string& dir) { return write_file(dir + "/image.bin", image_file(image_len, start)); };
}

std::function<std::string(const std::string&)> box(const std::string& text) {
    return [text](const std::string&) { return text; };
}

std::string cannot_open(const std::string& path) { return "Can't open file '" + path + "'"; }

INSTANTIATE_TEST_SUITE_P(
    Loader, BadImageFile,
    testing::Values(
        BadFileRow{"size_0", sized(0), box("Illegal File Size 0 Bytes")},
        BadFileRow{"size_1", sized(1), box("Illegal File Size 1 Bytes")},
        BadFileRow{"size_2", sized(2), box("Illegal File Size 2 Bytes")},
        BadFileRow{"size_3", sized(3), box("Illegal File Size 3 Bytes")},
        BadFileRow{"size_4", sized(4), box("Illegal File Size 4 Bytes")},
        BadFileRow{"size_2048", sized(2048), box("Transfer Error, Code: 10, 2044)")},
        BadFileRow{"size_2049", sized(2049), box("Illegal File Size 2049 Bytes")},
        BadFileRow{"size_5_gb",
                   [](const std::string& dir) {
                       std::string path = write_file(dir + "/large.bin", {});
                       if (truncate(path.c_str(), 5'000'000'000LL) != 0) ADD_FAILURE() << "truncate";
                       return path;
                   },
                   box("Illegal File Size 2147483647 Bytes")},
        BadFileRow{"start_0", starting_at(2, 0), box("Transfer Error, Code: 0, 2)")},
        BadFileRow{"start_15", starting_at(2, 15), box("Transfer Error, Code: f, 2)")},
        BadFileRow{"start_2047", starting_at(2, 2047), box("Transfer Error, Code: 7ff, 2)")},
        BadFileRow{"start_fffffff0", starting_at(20, 0xFFFFFFF0), box("Transfer Error, Code: fffffff0, 20)")},
        BadFileRow{"missing", [](const std::string& dir) { return dir + "/missing.bin"; }, cannot_open},
        BadFileRow{"directory", [](const std::string& dir) { return dir; }, cannot_open},
        BadFileRow{"pipe",
                   [](const std::string& dir) {
                       std::string path = dir + "/pipe";
                       if (mkfifo(path.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo";
                       return path;
                   },
                   cannot_open},
        BadFileRow{"device", [](const std::string&) { return std::string("/dev/null"); }, cannot_open},
        BadFileRow{"path_of_5000",
                   [](const std::string& dir) { return dir + "/" + std::string(5000, 'n'); },
                   [](const std::string& path) { return cannot_open(path).substr(0, 251); }}),
    [](const testing::TestParamInfo<BadFileRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bus_test
