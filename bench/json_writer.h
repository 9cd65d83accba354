// A minimal JSON writer for the benchmark results: objects, arrays, numbers
// and strings, written in order. The report script reads what it writes.
#pragma once

#include <string>
#include <vector>

#include "bench/stats.h"

namespace tivbench {

class JsonWriter {
public:
    JsonWriter& begin_object(const std::string& key = "");
    JsonWriter& end_object();
    JsonWriter& begin_array(const std::string& key = "");
    JsonWriter& end_array();
    JsonWriter& value(const std::string& key, double number);
    JsonWriter& value(const std::string& key, const std::string& text);
    JsonWriter& value(const std::string& key, const char* text) { return value(key, std::string(text)); }
    JsonWriter& value(const std::string& key, bool flag);
    // {"count", "median", "p99", "max", "min", "mean"} under `key`.
    JsonWriter& summary(const std::string& key, const Summary& s);

    const std::string& text() const { return out_; }
    // Writes the document to `path`; false when the file cannot be written.
    bool save(const std::string& path) const;

private:
    void new_line();
    void separate_and_key(const std::string& key);
    std::string out_;
    std::vector<bool> first_;  // per open level: nothing written in it yet
};

}  // namespace tivbench
