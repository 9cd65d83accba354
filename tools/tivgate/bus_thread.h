// The bus thread: the only caller of the library once the gateway runs. It
// steps the bus loop and sleeps until the loop's next time, a look turning
// due, a stop, or a change to the line's name, whichever comes first: with
// nothing to send and nothing due it does not wake at all.
#pragma once

#include <functional>

#include "tools/tivgate/bus_loop.h"

namespace tivgate {

// An eventfd the gateway writes when there is work; the bus thread sleeps on it.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;
    void wake();
    int fd() const { return fd_; }
    void drain();

private:
    int fd_;
};

// Runs until gateway.stop(), then closes the line. `ready` is called once,
// after the first try at the line, whatever its outcome.
void run_bus(BusLoop& loop, Gateway& gateway, Line& line, Waker& waker, const std::function<void()>& ready);

}  // namespace tivgate
