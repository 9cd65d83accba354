#include <stdarg.h>
#include <string.h>

#include "diagnostics/diagnostics.h"
#include "platform/win32.h"

// The system formatter writes up to 1024 bytes and takes no size, so it
// formats into room of that size and the text is cut to the message area.
enum { FORMATTER_LIMIT = 1024 };

static void format_message(char* message, const char* format, va_list args) {
    char formatted[FORMATTER_LIMIT + 1];
    wvsprintfA(formatted, format, args);
    size_t len = strnlen(formatted, MSG_AREA - 1);
    memcpy(message, formatted, len);
    message[len] = '\0';
}

static void format_title(char* title) {
    static const char prefix[] = "Error: ";
    memcpy(title, prefix, sizeof prefix);
    // GetModuleFileNameA(NULL) names the host's executable, not this library.
    char* path = title + sizeof prefix - 1;
    DWORD len = GetModuleFileNameA(nullptr, path, TITLE_PATH);
    path[len < TITLE_PATH ? len : TITLE_PATH - 1] = '\0';
}

void MsgError(const char* format, ...) {
    char message[MSG_AREA];
    char title[TITLE_AREA];
    va_list args;
    va_start(args, format);
    format_message(message, format, args);
    va_end(args);
    format_title(title);
    MessageBoxA(nullptr, message, title, MB_ICONERROR);
}
