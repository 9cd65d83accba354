// The image loader on arbitrary file contents. The file is a memory file
// reached through its /proc path; each box is checked against the rules for
// the size and start address it reports, and the image block must hold
// exactly what the file gave and nothing beyond.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tests/support/stderr_capture.h"
#include "tivlink.h"

namespace {

int file_fd = -1;
std::string file_path;
StderrCapture* capture;

constexpr uint8_t kUntouched = 0xEE;
constexpr uint32_t kAdrBefore = 0xDEADBEEF, kLenBefore = 0xBEEF;

std::string format(const char* pattern, long a, long b = 0) {
    char text[128];
    snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    file_fd = memfd_create("image", 0);
    if (file_fd < 0) abort();
    file_path = "/proc/self/fd/" + std::to_string(file_fd);
    static StderrCapture boxes;
    capture = &boxes;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_CHECK(ftruncate(file_fd, 0) == 0);
    FUZZ_CHECK(size == 0 || pwrite(file_fd, data, size, 0) == (ssize_t)size);
    memset(e2_data, kUntouched, sizeof e2_data);
    e2_adr = kAdrBefore;
    e2_len = kLenBefore;
    capture->clear();

    int32_t result = load_e2_file(file_path.c_str());
    std::vector<std::string> boxes = capture->texts();

    if (size < 5 || size > 2048) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(boxes == std::vector<std::string>{format("Illegal File Size %ld Bytes", (long)size)});
        FUZZ_CHECK(e2_adr == kAdrBefore && e2_len == kLenBefore && e2_data[0] == kUntouched);
        return 0;
    }
    size_t n = size - 4;
    uint32_t start = (uint32_t)data[n] << 24 | (uint32_t)data[n + 1] << 16 | (uint32_t)data[n + 2] << 8 |
                     data[n + 3];
    FUZZ_CHECK(e2_len == n && e2_adr == start);
    FUZZ_CHECK(memcmp(e2_data, data, n) == 0);
    for (size_t i = n; i < sizeof e2_data; i++) FUZZ_CHECK(e2_data[i] == kUntouched);
    bool in_range = start >= 16 && (uint64_t)start + n <= 2048;
    if (in_range) {
        FUZZ_CHECK(result == 0 && boxes.empty());
    } else {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(boxes == std::vector<std::string>{format("Transfer Error, Code: %lx, %ld)", (long)start, (long)n)});
    }
    return 0;
}
