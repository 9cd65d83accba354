#include "sim/capture_file.h"

#include <charconv>
#include <cstdio>

namespace tivsim {

namespace {

const char* direction_name(Direction d) { return d == Direction::rx ? "rx" : "tx"; }

bool parse_hex_byte(std::string_view s, uint8_t& value) {
    if (s.size() != 2) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + 2, value, 16);
    return ec == std::errc() && end == s.data() + 2;
}

// Splits at single spaces; empty fields (double spaces) are kept so they fail.
std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t at = 0;
    for (;;) {
        size_t space = line.find(' ', at);
        fields.push_back(line.substr(at, space - at));
        if (space == std::string_view::npos) return fields;
        at = space + 1;
    }
}

}  // namespace

std::string format_capture_record(const CaptureRecord& record) {
    std::string line = std::to_string(record.time.count());
    line += ' ';
    line += direction_name(record.direction);
    char hex[4];
    for (uint8_t b : record.bytes) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    return line;
}

std::optional<CaptureRecord> parse_capture_record(std::string_view line) {
    std::vector<std::string_view> fields = split(line);
    if (fields.size() < 2) return std::nullopt;
    CaptureRecord record;
    int64_t ns = 0;
    auto [end, ec] = std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), ns);
    if (ec != std::errc() || end != fields[0].data() + fields[0].size()) return std::nullopt;
    record.time = Nanos{ns};
    if (fields[1] == "rx")
        record.direction = Direction::rx;
    else if (fields[1] == "tx")
        record.direction = Direction::tx;
    else
        return std::nullopt;
    for (size_t i = 2; i < fields.size(); i++) {
        uint8_t b;
        if (!parse_hex_byte(fields[i], b)) return std::nullopt;
        record.bytes.push_back(b);
    }
    return record;
}

bool CaptureWriter::open(const std::string& path, Nanos origin) {
    std::lock_guard lock(mutex_);
    out_.open(path, std::ios::out | std::ios::trunc);
    origin_ = origin;
    out_ << kCaptureHeader << '\n';
    out_.flush();
    return out_.good();
}

void CaptureWriter::write(Nanos time, Direction direction, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (!out_.is_open() || !out_.good()) return;
    CaptureRecord record{time - origin_, direction, {bytes.begin(), bytes.end()}};
    // Flushed per record so a reader can follow the file while it grows.
    out_ << format_capture_record(record) << '\n';
    out_.flush();
}

void CaptureWriter::close() {
    std::lock_guard lock(mutex_);
    if (out_.is_open()) out_.close();
}

bool CaptureWriter::good() const {
    std::lock_guard lock(mutex_);
    return out_.is_open() && out_.good();
}

bool CaptureReader::read_line(std::string& line, size_t limit) {
    line.clear();
    line_number_++;
    std::streambuf* buf = in_.rdbuf();
    for (int c; (c = buf->sbumpc()) != std::char_traits<char>::eof();) {
        if (c == '\n') break;
        if (line.size() == limit) return false;
        line += (char)c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool CaptureReader::open(const std::string& path, std::string& error) {
    path_ = path;
    in_.open(path, std::ios::binary);
    if (!in_) {
        error = path + ": cannot open";
        return false;
    }
    std::string line;
    if (!read_line(line, kCaptureHeader.size() + 1) || line != kCaptureHeader) {
        error = path + ":1: not a capture file";
        return false;
    }
    return true;
}

CaptureReader::Next CaptureReader::next(CaptureRecord& record, std::string& error) {
    std::string line;
    for (;;) {
        if (in_.rdbuf()->sgetc() == std::char_traits<char>::eof()) return Next::end;
        const std::string at = path_ + ":" + std::to_string(line_number_ + 1) + ": ";
        if (!read_line(line, kMaxCaptureLine)) {
            error = at + "line longer than " + std::to_string(kMaxCaptureLine) + " characters";
            return Next::bad;
        }
        if (line.empty() || line[0] == '#') continue;
        std::optional<CaptureRecord> parsed = parse_capture_record(line);
        if (!parsed) {
            error = at + "bad record";
            return Next::bad;
        }
        record = std::move(*parsed);
        return Next::record;
    }
}

bool read_capture(const std::string& path, std::vector<CaptureRecord>& records,
                  std::string& error) {
    CaptureReader reader;
    if (!reader.open(path, error)) return false;
    CaptureRecord record;
    for (;;) {
        switch (reader.next(record, error)) {
        case CaptureReader::Next::record: records.push_back(std::move(record)); break;
        case CaptureReader::Next::end: return true;
        case CaptureReader::Next::bad: return false;
        }
    }
}

}  // namespace tivsim
