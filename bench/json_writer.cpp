#include "bench/json_writer.h"

#include "tools/common/json.h"

#include <cmath>
#include <cstdio>
#include <fstream>

namespace tivbench {

void JsonWriter::new_line() {
    out_ += '\n';
    out_.append(first_.size() * 2, ' ');
}

void JsonWriter::separate_and_key(const std::string& key) {
    if (!first_.empty()) {
        if (!first_.back()) out_ += ",";
        first_.back() = false;
        new_line();
    }
    if (!key.empty()) out_ += tivtools::json_string(key) + ": ";
}

JsonWriter& JsonWriter::begin_object(const std::string& key) {
    separate_and_key(key);
    out_ += "{";
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::end_object() {
    first_.pop_back();
    new_line();
    out_ += "}";
    return *this;
}

JsonWriter& JsonWriter::begin_array(const std::string& key) {
    separate_and_key(key);
    out_ += "[";
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::end_array() {
    first_.pop_back();
    new_line();
    out_ += "]";
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& key, double number) {
    separate_and_key(key);
    if (!std::isfinite(number)) {
        out_ += "null";
        return *this;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", number);
    out_ += text;
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& key, const std::string& text) {
    separate_and_key(key);
    out_ += tivtools::json_string(text);
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& key, bool flag) {
    separate_and_key(key);
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::summary(const std::string& key, const Summary& s) {
    begin_object(key);
    value("count", (double)s.count);
    value("median", s.median);
    value("p99", s.p99);
    value("max", s.max);
    value("min", s.min);
    value("mean", s.mean);
    return end_object();
}

bool JsonWriter::save(const std::string& path) const {
    std::ofstream file(path);
    file << out_ << "\n";
    return (bool)file;
}

}  // namespace tivbench
