#include "tools/common/stop_signal.h"

#include <signal.h>
#include <time.h>

#include <atomic>

namespace tivtools {

namespace {

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

extern "C" void on_stop_signal(int signal) { received.store(signal); }

}  // namespace

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a sleep or poll returns early
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

void ignore_closed_output() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

int stop_signal() { return received.load(); }

void sleep_unless_stopped(std::chrono::milliseconds period) {
    if (stop_signal()) return;
    struct timespec t = {(time_t)(period.count() / 1000), (long)(period.count() % 1000) * 1000000L};
    nanosleep(&t, nullptr);  // cut short by the signal, which is what we want
}

int exit_status_for(int signal) { return 128 + signal; }

}  // namespace tivtools
