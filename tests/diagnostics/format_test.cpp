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

TEST(Formatter, Conversions) {
    EXPECT_EQ(format("%d|%i|%u", -42, 7, 4000000000u), "-42|7|4000000000");
    EXPECT_EQ(format("%x|%X|%lx", 0xBEEFu, 0xBEEFu, 0xFFFFFFF0u), "beef|BEEF|fffffff0");
    EXPECT_EQ(format("%s|%c|%%", "abc", 'q'), "abc|q|%");
    EXPECT_EQ(format("[%5d][%-5d][%05d][%05d]", 42, 42, 42, -42), "[   42][42   ][00042][-0042]");
    EXPECT_EQ(format("[%.2s][%4s]", "abcdef", "ab"), "[ab][  ab]");
    EXPECT_EQ(format("%d", (int)0x80000000), "-2147483648");
    EXPECT_EQ(format("%s", (const char*)nullptr), "(null)");
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
