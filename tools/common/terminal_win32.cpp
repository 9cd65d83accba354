#include "tools/common/terminal.h"

#include <io.h>
#include <windows.h>

namespace tivtools {

namespace {

// The console behind `fd`, or null. _isatty alone also says yes to NUL and
// to COM ports, which are character devices too.
HANDLE console_of(int fd) {
    if (!_isatty(fd)) return nullptr;
    HANDLE handle = (HANDLE)_get_osfhandle(fd);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

bool visible_window(int fd, SMALL_RECT& window) {
    HANDLE console = console_of(fd);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!console || !GetConsoleScreenBufferInfo(console, &info)) return false;
    window = info.srWindow;
    return true;
}

}  // namespace

// Callers draw with escape sequences (a bar cleared to the end of its line),
// so a console counts only once it interprets them: Windows 10 and later do
// when asked, older consoles get plain lines.
bool is_terminal(int fd) {
    HANDLE console = console_of(fd);
    DWORD mode = 0;
    if (!console || !GetConsoleMode(console, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int terminal_width(int fd, int fallback) {
    SMALL_RECT w;
    return visible_window(fd, w) && w.Right >= w.Left ? w.Right - w.Left + 1 : fallback;
}

int terminal_height(int fd, int fallback) {
    SMALL_RECT w;
    return visible_window(fd, w) && w.Bottom >= w.Top ? w.Bottom - w.Top + 1 : fallback;
}

}  // namespace tivtools
