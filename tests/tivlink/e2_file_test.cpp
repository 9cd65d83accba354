// The image file loader: what it accepts, what it refuses with which text,
// and what each case leaves in the image block.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/stderr_capture.h"
#include "tivlink.h"

namespace {

using Bytes = std::vector<uint8_t>;

class E2File : public testing::Test {
  protected:
    void SetUp() override {
        capture.emplace();
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir = testing::TempDir() + "e2_" + std::to_string(getpid()) + "_" + name;
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        // A known block, to see what each refusal leaves behind.
        memset(e2_data, 0xEE, sizeof e2_data);
        e2_adr = 0x1234;
        e2_len = 77;
    }
    void TearDown() override {
        capture.reset();
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
    std::string file(const Bytes& content, const char* name = "image.bin") {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) throw std::runtime_error("cannot create " + path);
        // An empty vector's data() may be null, which fwrite must not get.
        if (!content.empty()) fwrite(content.data(), 1, content.size(), f);
        fclose(f);
        return path;
    }
    std::vector<std::string> boxes() const { return capture->texts(); }
    bool block_untouched() { return e2_adr == 0x1234 && e2_len == 77 && e2_data[0] == 0xEE; }
    std::string dir;
    std::optional<StderrCapture> capture;
};

Bytes image(size_t len, uint32_t start) {
    Bytes b;
    for (size_t i = 0; i < len; i++) b.push_back((uint8_t)(i * 7 + 3));
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back((uint8_t)(start >> shift));
    return b;
}

struct SizeRow {
    size_t file_size;
    const char* box;  // nullptr: accepted
};

class E2FileSize : public E2File, public testing::WithParamInterface<SizeRow> {};

TEST_P(E2FileSize, SizeLimits) {
    const SizeRow& row = GetParam();
    Bytes content = row.file_size >= 4 ? image(row.file_size - 4, 16) : Bytes(row.file_size, 1);
    int32_t result = load_e2_file(file(content).c_str());
    if (!row.box) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes().empty());
        EXPECT_EQ(e2_len, row.file_size - 4);
        EXPECT_EQ(e2_adr, 16u);
        EXPECT_EQ(Bytes(e2_data, e2_data + e2_len), Bytes(content.begin(), content.end() - 4));
    } else {
        EXPECT_EQ(result, -1);
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0], row.box);
        // A size refusal leaves the block alone; a range refusal keeps the file.
        if (std::string(row.box).rfind("Illegal", 0) == 0) {
            EXPECT_TRUE(block_untouched());
        } else {
            EXPECT_EQ(e2_len, row.file_size - 4);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, E2FileSize,
                         testing::Values(SizeRow{0, "Illegal File Size 0 Bytes"},
                                         SizeRow{1, "Illegal File Size 1 Bytes"},
                                         SizeRow{2, "Illegal File Size 2 Bytes"},
                                         SizeRow{3, "Illegal File Size 3 Bytes"},
                                         SizeRow{4, "Illegal File Size 4 Bytes"},
                                         SizeRow{5, nullptr}, SizeRow{6, nullptr},
                                         SizeRow{2036, nullptr},
                                         SizeRow{2048, "Transfer Error, Code: 10, 2044)"},
                                         SizeRow{2049, "Illegal File Size 2049 Bytes"}));

struct StartRow {
    size_t image_len;
    uint32_t start;
    const char* box;
};

class E2FileStart : public E2File, public testing::WithParamInterface<StartRow> {};

TEST_P(E2FileStart, AddressLimitsKeepWhatWasRead) {
    const StartRow& row = GetParam();
    Bytes content = image(row.image_len, row.start);
    EXPECT_EQ(load_e2_file(file(content).c_str()), row.box ? -1 : 0);
    if (row.box) {
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0], row.box);
    } else {
        EXPECT_TRUE(boxes().empty());
    }
    // Refused for its range or not, the block holds the file's values.
    EXPECT_EQ(e2_adr, row.start);
    EXPECT_EQ(e2_len, row.image_len);
    EXPECT_EQ(Bytes(e2_data, e2_data + e2_len), Bytes(content.begin(), content.end() - 4));
}

INSTANTIATE_TEST_SUITE_P(
    Starts, E2FileStart,
    testing::Values(StartRow{2, 0, "Transfer Error, Code: 0, 2)"},
                    StartRow{2, 15, "Transfer Error, Code: f, 2)"},
                    StartRow{2, 16, nullptr},
                    StartRow{1, 2047, nullptr},
                    StartRow{2, 2047, "Transfer Error, Code: 7ff, 2)"},
                    StartRow{2032, 16, nullptr},
                    StartRow{2032, 17, "Transfer Error, Code: 11, 2032)"},
                    StartRow{2, 0xFFFFFFF0, "Transfer Error, Code: fffffff0, 2)"},
                    StartRow{20, 0xFFFFFFF0, "Transfer Error, Code: fffffff0, 20)"}));

TEST_F(E2File, MissingFile) {
    std::string path = dir + "/missing.bin";
    EXPECT_EQ(load_e2_file(path.c_str()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0], "Can't open file '" + path + "'");
    EXPECT_TRUE(block_untouched());
}

TEST_F(E2File, VeryLongPathIsCutInTheBox) {
    std::string path = dir + "/" + std::string(5000, 'n');
    EXPECT_EQ(load_e2_file(path.c_str()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].size(), 251u);
    EXPECT_EQ(boxes()[0], ("Can't open file '" + path).substr(0, 251));
    EXPECT_TRUE(block_untouched());
}

TEST_F(E2File, VeryLargeFile) {
    std::string path = file({}, "large.bin");
    ASSERT_EQ(truncate(path.c_str(), 5'000'000'000LL), 0);
    EXPECT_EQ(load_e2_file(path.c_str()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0], "Illegal File Size 2147483647 Bytes");
    EXPECT_TRUE(block_untouched());
}

// Only a regular file is an image: what a directory or a device reports as
// its size depends on the file system, so they are refused when opened.
TEST_F(E2File, DirectoryIsRefused) {
    EXPECT_EQ(load_e2_file(dir.c_str()), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0], "Can't open file '" + dir + "'");
    EXPECT_TRUE(block_untouched());
}

TEST_F(E2File, DeviceIsRefused) {
    EXPECT_EQ(load_e2_file("/dev/null"), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0], "Can't open file '/dev/null'");
    EXPECT_TRUE(block_untouched());
}

// A FIFO nobody writes to once held the host for ever in the open.
TEST_F(E2File, PipeWithoutWriterIsRefusedAtOnce) {
    std::string path = dir + "/pipe";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::atomic<int32_t> result{1};
    std::thread loader([&] { result = load_e2_file(path.c_str()); });
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (result == 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool hung = result == 1;
    if (hung) {
        // A writer lets the open return, so the test ends either way.
        int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        loader.join();
        if (fd >= 0) close(fd);
    } else {
        loader.join();
    }
    ASSERT_FALSE(hung) << "the loader waited for a writer";
    EXPECT_EQ(result, -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0], "Can't open file '" + path + "'");
    EXPECT_TRUE(block_untouched());
}

TEST_F(E2File, FileShrunkUnderTheLoaderIsRefused) {
    // A file cut short between taking its size and reading it. Another
    // thread keeps cutting and restoring it while the loader runs; every
    // outcome must be one that some order of events allows, and the short
    // read must leave the block alone.
    std::string path = file(image(100, 16), "shrinking.bin");
    Bytes content = image(100, 16);
    std::atomic<bool> stop{false};
    std::thread cutter([&] {
        int fd = open(path.c_str(), O_WRONLY);
        while (!stop) {
            EXPECT_EQ(ftruncate(fd, 3), 0);
            EXPECT_EQ(pwrite(fd, content.data(), content.size(), 0), (ssize_t)content.size());
        }
        close(fd);
    });
    int short_reads = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (short_reads == 0 && std::chrono::steady_clock::now() < end) {
        memset(e2_data, 0xEE, sizeof e2_data);
        e2_adr = 0x1234;
        e2_len = 77;
        capture->clear();
        if (load_e2_file(path.c_str()) == 0) continue;
        ASSERT_EQ(boxes().size(), 1u);
        if (boxes()[0] == "Illegal File Size 3 Bytes") {
            EXPECT_TRUE(block_untouched());
        } else if (boxes()[0].rfind("Transfer Error", 0) != 0) {
            EXPECT_EQ(boxes()[0], "Can't read file '" + path + "'");
            EXPECT_TRUE(block_untouched());
            short_reads++;
        }
    }
    stop = true;
    cutter.join();
    if (short_reads == 0) GTEST_SKIP() << "the race was never met";
}

std::string regex_quoted(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (!isalnum((unsigned char)c) && c != '/' && c != '_' && c != ' ' && c != '\'') out += '\\';
        out += c;
    }
    return out;
}

// Load and report in a child that runs as nobody, since root reads any file.
void load_as_nobody(const char* path) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    fprintf(stderr, "result %d\n", load_e2_file(path));
    _exit(0);
}

TEST_F(E2File, UnreadableFile) {
    std::string path = file(image(4, 16), "unreadable.bin");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0711), 0);  // the child may pass through
    capture.reset();  // the child's box goes to its standard error
    EXPECT_EXIT(load_as_nobody(path.c_str()), testing::ExitedWithCode(0),
                ": Can't open file '" + regex_quoted(path) + "'\ntivlink: '" + regex_quoted(path) +
                    "': Permission denied\nresult -1\n");
}

TEST_F(E2File, FailedOpenSaysWhyOnTheLineAfterTheBox) {
    struct Row {
        std::string path, reason;
    };
    for (const Row& row : {Row{dir + "/missing.bin", "No such file or directory"}, Row{dir, "not a regular file"}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(load_e2_file(row.path.c_str()), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "tivlink: '" + row.path + "': " + row.reason + "\n");
    }
    EXPECT_TRUE(block_untouched());
}

}  // namespace
