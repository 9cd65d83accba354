// Capture files: raw line bytes with their times, one chunk per line, so a
// session can be stored and decoded again later. Text format:
//
//   tivsim-capture 1
//   # comment
//   <nanoseconds> <rx|tx> <hex bytes>
//
// Times are integer nanoseconds on the monotonic clock since the capture's
// origin. rx: bytes from the library to the bus; tx: from the bus to the
// library. Bytes are two-digit hex separated by single spaces.
#pragma once

#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_clock.h"

namespace tivsim {

inline constexpr std::string_view kCaptureHeader = "tivsim-capture 1";

enum class Direction { rx, tx };

struct CaptureRecord {
    Nanos time{0};
    Direction direction = Direction::rx;
    std::vector<uint8_t> bytes;
    friend bool operator==(const CaptureRecord&, const CaptureRecord&) = default;
};

std::string format_capture_record(const CaptureRecord& record);  // one line, no newline
std::optional<CaptureRecord> parse_capture_record(std::string_view line);

// Writes records as they come; safe to call from several threads.
class CaptureWriter {
public:
    // Creates the file and writes the header; times are stored relative to origin.
    bool open(const std::string& path, Nanos origin);
    // Ignored once closed or when opening failed.
    void write(Nanos time, Direction direction, std::span<const uint8_t> bytes);
    void close();
    bool good() const;

private:
    mutable std::mutex mutex_;
    std::ofstream out_;  // guarded by mutex_
    Nanos origin_{0};
};

// The longest line a reader takes: a record of some 21,000 bytes, five
// times the largest chunk the writers store at once.
inline constexpr size_t kMaxCaptureLine = 64 * 1024;

// Reads a capture file one record at a time in bounded memory, whatever the
// input: a first line that is not the header is refused after that many
// bytes, any other line past kMaxCaptureLine. Lines may end in CR LF.
class CaptureReader {
public:
    enum class Next { record, end, bad };

    // False with a message when the file cannot be read or has no header.
    bool open(const std::string& path, std::string& error);
    // The next record; at a bad line, a message naming it.
    Next next(CaptureRecord& record, std::string& error);

private:
    bool read_line(std::string& line, size_t limit);

    std::ifstream in_;
    std::string path_;
    int line_number_ = 0;
};

// Reads a whole capture file; false with a message naming the line on error.
bool read_capture(const std::string& path, std::vector<CaptureRecord>& records,
                  std::string& error);

}  // namespace tivsim
