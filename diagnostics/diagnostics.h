// Error boxes and fatal stops: the library's only ways of telling the user.
#pragma once

#include <stdint.h>

// Message text area of an error box, terminator included.
enum { MSG_AREA = 252, TITLE_AREA = 260, TITLE_PATH = 250 };

// Formats the text (%d, %x, %s) into a box titled "Error: <executable path>"
// and returns once the user has dismissed it. Longer texts are cut.
void MsgError(const char* format, ...);

// Reports a failed check and ends the host process with status 1.
[[noreturn]] void AssertFailed(const char* expression, const char* file, int line);

// File name without its directories, worked out at compile time.
constexpr const char* tiv_base_name(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; p++)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

// The check is active in every build and evaluates its condition once; the
// report shows the condition exactly as written in the source.
#define TIV_ASSERT(condition)                                                          \
    ((condition) ? (void)0 : AssertFailed(#condition, tiv_base_name(__FILE__), __LINE__))
