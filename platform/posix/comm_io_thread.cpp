// The port's I/O thread. It sleeps in ppoll() on the device and on an
// eventfd through which callers wake it, with a time-out only while an
// operation has a deadline: an idle port costs no CPU. Operations complete
// and signal their events here even when nobody waits for them.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "platform/posix/clock.h"
#include "platform/posix/comm_port.h"

static short device_interest(const PortRecord* port) {
    if (port->hung_up) return 0;
    short events = 0;
    if (port->reads.head || (port->wait && (port->mask & EV_RXCHAR))) events |= POLLIN;
    const PortOp* write = port->writes.head;
    if (write && write->done < write->count) events |= POLLOUT;
    return events;
}

static int64_t next_deadline(const PortRecord* port) {
    int64_t read = port_op_next_check(port->reads.head);
    int64_t write = port_op_next_check(port->writes.head);
    if (!read) return write;
    if (!write) return read;
    return read < write ? read : write;
}

static void* io_thread_main(void* arg) {
    PortRecord* port = (PortRecord*)arg;
    pthread_mutex_lock(&port->lock);
    while (!port->closing) {
        port_progress(port, monotonic_ns());
        pollfd fds[2] = {{port->wake_fd, POLLIN, 0}, {-1, 0, 0}};
        short interest = device_interest(port);
        if (interest) fds[1] = pollfd{port->fd, interest, 0};
        int64_t deadline = next_deadline(port);
        port->io_polling = true;
        port->polled_interest = interest;
        port->polled_deadline = deadline;
        pthread_mutex_unlock(&port->lock);

        timespec timeout = timespec_from_ns(deadline - monotonic_ns());
        ppoll(fds, 2, deadline ? &timeout : nullptr, nullptr);
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            ssize_t ignored = read(port->wake_fd, &count, sizeof count);
            (void)ignored;
        }

        pthread_mutex_lock(&port->lock);
        port->io_polling = false;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) port->hung_up = true;
    }
    pthread_mutex_unlock(&port->lock);
    return nullptr;
}

bool port_io_start(PortRecord* port) {
    // Signals belong to the application's threads, not to ours.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    int err = pthread_create(&port->io_thread, nullptr, io_thread_main, port);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    port->io_thread_running = err == 0;
    return err == 0;
}

void port_io_wake(PortRecord* port) {
    uint64_t one = 1;
    ssize_t ignored = write(port->wake_fd, &one, sizeof one);
    (void)ignored;  // a full counter already means "wake up"
}

void port_io_notify(PortRecord* port) {
    if (port->io_polling && !(device_interest(port) & ~port->polled_interest)) {
        int64_t deadline = next_deadline(port);
        if (!deadline || (port->polled_deadline && port->polled_deadline <= deadline)) return;
    }
    port_io_wake(port);
}

// The caller has set `closing` under the lock.
void port_io_stop(PortRecord* port) {
    if (!port->io_thread_running) return;
    port_io_wake(port);
    pthread_join(port->io_thread, nullptr);
    port->io_thread_running = false;
}
