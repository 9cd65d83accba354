// JSON written in order, with the commas placed by the writer, so callers
// only say what: tivsim's and tivctl's --json, tivgate's status.
#pragma once

#include <cstdio>
#include <string>

namespace tivtools {

// `text` as a JSON string, quotes and escapes included.
inline std::string json_string(const std::string& text) {
    std::string s = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if ((unsigned char)c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", (unsigned)c);
            s += esc;
        } else {
            s += c;
        }
    }
    return s + "\"";
}

class Json {
public:
    Json& open(char bracket) {
        comma();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    Json& close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    Json& key(const char* name) {
        comma();
        out_ += json_string(name) + ":";
        first_ = true;  // the value follows without a comma
        return *this;
    }
    Json& number(long long v) { return raw(std::to_string(v)); }
    Json& unsigned_number(unsigned long long v) { return raw(std::to_string(v)); }
    // A fraction with `decimals` places.
    Json& real(double v, int decimals = 3) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
        return raw(text);
    }
    Json& boolean(bool v) { return raw(v ? "true" : "false"); }
    Json& null() { return raw("null"); }
    Json& string(const std::string& s) { return raw(json_string(s)); }
    template <class Bytes>
    Json& numbers(const Bytes& bytes) {
        open('[');
        for (auto b : bytes) number(b);
        return close(']');
    }
    std::string take() { return std::move(out_); }

private:
    Json& raw(const std::string& text) {
        comma();
        out_ += text;
        return *this;
    }
    void comma() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    std::string out_;
    bool first_ = true;
};

}  // namespace tivtools
