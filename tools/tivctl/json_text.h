// Strings as JSON, for tivctl's --json output.
#pragma once

#include <cstdio>
#include <string>

namespace tivctl {

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

}  // namespace tivctl
