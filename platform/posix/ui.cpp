// Message boxes, the beep and the formatter, for processes without a
// desktop: a box becomes one line on standard error, the beep a BEL on a
// terminal.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/testing.h"
#include "platform/win32.h"

static PlatformBoxHook box_hook;
static PlatformBeepHook beep_hook;

void platform_set_box_hook(PlatformBoxHook hook) { __atomic_store_n(&box_hook, hook, __ATOMIC_RELEASE); }

void platform_set_beep_hook(PlatformBeepHook hook) {
    __atomic_store_n(&beep_hook, hook, __ATOMIC_RELEASE);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    PlatformBoxHook hook = __atomic_load_n(&box_hook, __ATOMIC_ACQUIRE);
    if (!text) text = "";
    if (!caption) caption = "Error";
    if (hook) {
        hook(caption, text, type);
        return IDOK;
    }
    size_t len = strlen(text);
    const char* newline = (len > 0 && text[len - 1] == '\n') ? "" : "\n";
    // One write, so boxes from two threads never interleave within a line.
    char* line = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&line, &size);
    if (out) {
        fprintf(out, "%s: %s%s", caption, text, newline);
        fclose(out);
        ssize_t ignored = write(STDERR_FILENO, line, size);
        (void)ignored;
        free(line);
    }
    return IDOK;
}

BOOL MessageBeep(UINT type) {
    PlatformBeepHook hook = __atomic_load_n(&beep_hook, __ATOMIC_ACQUIRE);
    if (hook) {
        hook(type);
        return TRUE;
    }
    if (isatty(STDERR_FILENO)) {
        ssize_t ignored = write(STDERR_FILENO, "\a", 1);
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
