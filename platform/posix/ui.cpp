// Message boxes, the beep and the formatter, for processes without a
// desktop: a box becomes one line on standard error, the beep a BEL on a
// terminal.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/syscalls.h"
#include "platform/win32.h"

// One write, so boxes from two threads never interleave within a line.
int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    if (!text) text = "";
    if (!caption) caption = "Error";
    size_t len = strlen(text);
    const char* newline = (len > 0 && text[len - 1] == '\n') ? "" : "\n";
    char line[2048];
    int n = snprintf(line, sizeof line, "%s: %s%s", caption, text, newline);
    if (n >= (int)sizeof line) {  // cut, still one line
        n = sizeof line - 1;
        line[n - 1] = '\n';
    }
    if (n > 0) {
        ssize_t ignored = SYS(write)(STDERR_FILENO, line, (size_t)n);
        (void)ignored;
    }
    return IDOK;
}

BOOL MessageBeep(UINT) {
    if (SYS(isatty)(STDERR_FILENO)) {
        ssize_t ignored = SYS(write)(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
    return TRUE;
}

// The library formats only %d, %x and %s, which the C library's formatter
// does alike; Windows' own never writes more than 1024 bytes.
enum { FORMAT_LIMIT = 1024 };

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
    int n = vsnprintf(buffer, FORMAT_LIMIT, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return n < FORMAT_LIMIT ? n : FORMAT_LIMIT - 1;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(buffer, format, args);
    va_end(args);
    return n;
}
