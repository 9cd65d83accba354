// The modem-line watcher of a real serial port. Linux reports changes of
// CTS, DSR, RING and CD only through TIOCMIWAIT, a blocking ioctl that
// nothing but a signal ends; this thread sits in it and wakes the I/O
// thread, which reads the change from the port's interrupt counters.
// Pseudo-terminals have no modem lines and get no watcher.
#include <errno.h>
#include <signal.h>
#include <time.h>

#include "platform/posix/clock.h"
#include "platform/posix/comm_port.h"

// A real-time signal the stand-in takes for itself, and only if the
// application has not claimed it: a handler installed with SA_RESTART
// would restart the ioctl and leave the watcher stuck.
static int wake_signal(void) { return SIGRTMAX - 2; }

static pthread_once_t handler_once = PTHREAD_ONCE_INIT;
static bool handler_ours;  // written once under handler_once

static void on_wake_signal(int) {}

static void install_handler(void) {
    struct sigaction current;
    if (sigaction(wake_signal(), nullptr, &current) != 0) return;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) return;
    struct sigaction action = {};
    action.sa_handler = on_wake_signal;
    sigemptyset(&action.sa_mask);
    handler_ours = sigaction(wake_signal(), &action, nullptr) == 0;
}

static void* modem_watch_main(void* arg) {
    PortRecord* port = (PortRecord*)arg;
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, wake_signal());
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    while (!__atomic_load_n(&port->modem_stop, __ATOMIC_ACQUIRE)) {
        int err = tty_wait_modem_change(port->fd);
        if (err == 0) port_io_wake(port);
        else if (err != EINTR) break;  // the driver cannot report changes
    }
    return nullptr;
}

void port_modem_watch_start(PortRecord* port) {
    pthread_once(&handler_once, install_handler);
    if (!handler_ours) return;  // no way to end a watcher: no modem-line events
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    port->modem_thread_running = pthread_create(&port->modem_thread, nullptr, modem_watch_main, port) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void port_modem_watch_stop(PortRecord* port) {
    if (!port->modem_thread_running) return;
    __atomic_store_n(&port->modem_stop, 1, __ATOMIC_RELEASE);
    // A signal that lands just before the thread enters the ioctl is lost,
    // so it is repeated until the thread has ended.
    for (;;) {
        pthread_kill(port->modem_thread, wake_signal());
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until = timespec_from_ns((int64_t)until.tv_sec * NS_PER_S + until.tv_nsec + 10 * NS_PER_MS);
        if (pthread_timedjoin_np(port->modem_thread, nullptr, &until) == 0) break;
    }
    port->modem_thread_running = false;
}
