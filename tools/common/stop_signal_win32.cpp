#include "tools/common/stop_signal.h"

#include <signal.h>
#include <windows.h>

#include <atomic>

// The console's control handler rather than the C runtime's signal(SIGINT):
// msvcrt resets a SIGINT handler to the default before calling it, so a
// second Ctrl-C would end the process in the middle of a download; this
// handler stays installed and runs on a thread of its own.

namespace tivtools {

namespace {

// Closing the console ends the process once the handler returns, and
// Windows allows about five seconds for it: enough for a download to send
// its closing reset and the connection to close.
constexpr DWORD kCloseGraceMillis = 4000;

std::atomic<int> received{0};
// Signalled together with `received`, so that a sleep ends at once. Made
// once and kept for the life of the process, like the handler.
std::atomic<HANDLE> stop_event{nullptr};

void record(int signal) {
    received.store(signal);
    if (HANDLE event = stop_event.load()) SetEvent(event);
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: record(SIGINT); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        record(SIGTERM);
        Sleep(kCloseGraceMillis);  // the main thread ends the process sooner
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void catch_stop_signals() {
    if (stop_event.load()) return;
    stop_event.store(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// A write to a closed pipe fails with an error on Windows; no signal comes.
void ignore_closed_output() {}

int stop_signal() { return received.load(); }

void sleep_unless_stopped(std::chrono::milliseconds period) {
    if (stop_signal()) return;
    const DWORD millis = (DWORD)period.count();
    if (HANDLE event = stop_event.load()) {
        WaitForSingleObject(event, millis);
    } else {
        Sleep(millis);
    }
}

int exit_status_for(int signal) { return 128 + signal; }

}  // namespace tivtools
