// The small formatter of the user-interface services: %d %i %u %x %X %c %s
// %%, with the '-' and '0' flags, a width, a precision for strings and the
// 'l' and 'h' size prefixes. Like the Windows one it never writes more than
// 1024 bytes, terminator included, and knows nothing of floating point.
#include <string.h>

#include "platform/win32.h"

enum { FORMAT_LIMIT = 1024 };

struct FormatOut {
    char* buffer;
    int count;  // bytes stored, terminator excluded
};

static void out_char(FormatOut* out, char c) {
    if (out->count < FORMAT_LIMIT - 1) out->buffer[out->count++] = c;
}

static void out_padded(FormatOut* out, const char* text, int len, int width, bool left,
                       char pad) {
    int fill = width > len ? width - len : 0;
    if (!left)
        for (int i = 0; i < fill; i++) out_char(out, pad);
    for (int i = 0; i < len; i++) out_char(out, text[i]);
    if (left)
        for (int i = 0; i < fill; i++) out_char(out, ' ');
}

static int unsigned_digits(char* digits, uint32_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[16];
    int n = 0;
    do {
        reversed[n++] = set[value % base];
        value /= base;
    } while (value);
    for (int i = 0; i < n; i++) digits[i] = reversed[n - 1 - i];
    return n;
}

static void out_number(FormatOut* out, char conv, uint32_t raw, int width, bool left,
                       bool zero) {
    char text[24];
    int len = 0;
    bool negative = (conv == 'd' || conv == 'i') && (int32_t)raw < 0;
    uint32_t magnitude = negative ? 0u - raw : raw;
    unsigned base = (conv == 'x' || conv == 'X') ? 16 : 10;
    char digits[16];
    int n = unsigned_digits(digits, magnitude, base, conv == 'X');
    if (negative && zero && !left) {
        out_char(out, '-');
        out_padded(out, digits, n, width - 1, false, '0');
        return;
    }
    if (negative) text[len++] = '-';
    memcpy(text + len, digits, n);
    len += n;
    out_padded(out, text, len, width, left, zero && !left ? '0' : ' ');
}

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
    FormatOut out{buffer, 0};
    for (const char* p = format; *p; p++) {
        if (*p != '%') {
            out_char(&out, *p);
            continue;
        }
        p++;
        if (*p == '%') {
            out_char(&out, '%');
            continue;
        }
        bool left = false, zero = false;
        for (;; p++) {
            if (*p == '-') left = true;
            else if (*p == '0') zero = true;
            else break;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        int precision = -1;
        if (*p == '.') {
            precision = 0;
            for (p++; *p >= '0' && *p <= '9'; p++) precision = precision * 10 + (*p - '0');
        }
        while (*p == 'l' || *p == 'h') p++;
        switch (*p) {
            case 'd': case 'i': case 'u': case 'x': case 'X':
                out_number(&out, *p, va_arg(args, uint32_t), width, left, zero);
                break;
            case 'c': {
                char c = (char)va_arg(args, int);
                out_padded(&out, &c, 1, width, left, ' ');
                break;
            }
            case 's': {
                const char* s = va_arg(args, const char*);
                if (!s) s = "(null)";
                int len = (int)strnlen(s, precision >= 0 ? (size_t)precision : (size_t)-1);
                out_padded(&out, s, len, width, left, ' ');
                break;
            }
            case '\0':
                p--;  // a lone '%' at the end prints nothing
                break;
            default:
                out_char(&out, *p);  // unknown conversions print the character itself
                break;
        }
    }
    buffer[out.count] = '\0';
    return out.count;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(buffer, format, args);
    va_end(args);
    return n;
}
