// Image files: the image bytes, then their EEPROM start address as four
// bytes, most significant first.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "diagnostics/diagnostics.h"
#include "tivlink.h"
#include "tivlink/eeprom.h"
#include "tivlink/open_failure.h"

uint8_t e2_data[E2_SIZE];
uint32_t e2_adr;
uint32_t e2_len;

// Only a regular file is an image. The open must not wait: a FIFO without a
// writer, or a terminal, would hold the host for ever; and what a directory
// reports as its size depends on the file system.
// `reason` says why not, where the platform can tell.
static FILE* open_image(const char* path, const char** reason) {
#ifdef _WIN32
    *reason = "";
    return fopen(path, "rb");
#else
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = strerror(errno);
        return nullptr;
    }
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    FILE* file = regular ? fdopen(fd, "rb") : nullptr;
    if (!file) {
        *reason = regular ? strerror(errno) : "not a regular file";
        close(fd);
    }
    return file;
#endif
}

// In 64 bits on every target, so that a file past 2 GiB is refused for its
// size on 32-bit ones too, not for a failed or wrapped `long`.
#ifdef _WIN32
#define seek_file _fseeki64
#define tell_file _ftelli64
#else
#define seek_file fseeko
#define tell_file ftello
#endif

static int64_t file_size(FILE* file) {
    if (seek_file(file, 0, SEEK_END) != 0) return -1;
    int64_t size = tell_file(file);
    if (seek_file(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

// Shown as a 32-bit number, as the box has no wider conversion.
static int32_t size_for_report(int64_t size) { return size > INT32_MAX ? INT32_MAX : (int32_t)size; }

bool e2_block_in_range(uint32_t start, uint32_t length) {
    // Added in 64 bits, so a start near 2^32 cannot wrap into range.
    return start >= E2_FIRST_WRITABLE && (uint64_t)start + length <= E2_SIZE;
}

int32_t load_e2_file(const char* path) {
    const char* reason = nullptr;
    FILE* file = open_image(path, &reason);
    if (!file) {
        MsgError("Can't open file '%s'", path);
        explain_file_open_failure(path, reason);
        return -1;
    }
    int64_t size = file_size(file);
    if (size < E2_FILE_MIN || size > E2_FILE_MAX) {
        MsgError("Illegal File Size %d Bytes", size_for_report(size));
        fclose(file);
        return -1;
    }
    // The whole file is read before the image block changes, so a file that
    // gives less than its size announced leaves the block as it was.
    uint8_t content[E2_FILE_MAX];
    size_t got = fread(content, 1, (size_t)size, file);
    fclose(file);
    if (got != (size_t)size) {
        MsgError("Can't read file '%s'", path);
        return -1;
    }
    uint32_t n = (uint32_t)size - E2_ADDRESS_BYTES;
    memcpy(e2_data, content, n);
    const uint8_t* tail = content + n;
    e2_adr = (uint32_t)tail[0] << 24 | (uint32_t)tail[1] << 16 | (uint32_t)tail[2] << 8 | tail[3];
    e2_len = n;
    if (!e2_block_in_range(e2_adr, n)) {
        MsgError("Transfer Error, Code: %x, %d)", e2_adr, n);
        return -1;
    }
    return 0;
}
