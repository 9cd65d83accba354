#include <gtest/gtest.h>

#include <stdarg.h>
#include <string.h>

#include <string>

#include "platform/win32.h"

namespace {

struct FormatCase {
    const char* format;
    std::string expected;
};

std::string format(const char* fmt, ...) {
    char buffer[1100];
    memset(buffer, 'Z', sizeof buffer);
    va_list args;
    va_start(args, fmt);
    int n = wvsprintfA(buffer, fmt, args);
    va_end(args);
    EXPECT_EQ(n, (int)strlen(buffer));
    return buffer;
}

// The conversions the library's messages use.
TEST(Formatter, Conversions) {
    EXPECT_EQ(format("COM%d at %d Bd.|%x|%s", 3, -42, 0xBEEFu, "abc"), "COM3 at -42 Bd.|beef|abc");
}

TEST(Formatter, NeverWritesMoreThan1024Bytes) {
    std::string big(3000, 'x');
    char buffer[1100];
    memset(buffer, 'Z', sizeof buffer);
    int n = wsprintfA(buffer, "%s%s", big.c_str(), big.c_str());
    EXPECT_EQ(n, 1023);
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], 'Z');
}

}  // namespace
