// The serial line as the bus loop drives it. SerialLine is the library's;
// the unit tests have one of their own.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "tools/tivgate/schedule.h"

namespace tivgate {

// The device node a name leads to: a node made anew (an adapter plugged
// back, another pseudo-terminal) differs even where its numbers are the same.
struct NodeId {
    dev_t dev = 0;
    ino_t ino = 0;
    dev_t rdev = 0;
    bool operator==(const NodeId&) const = default;
};

class Line {
public:
    virtual ~Line() = default;
    // The name the line is opened by, as given.
    virtual const std::string& path() const = 0;
    // The node the name leads to now ("/dev/ttyUSB1"), or the name itself.
    virtual std::string device() const = 0;
    // The character device the name leads to now; nothing when it leads to none.
    virtual std::optional<NodeId> node() const = 0;
    // Why the device cannot be had now, found without the library, so that a
    // try that would fail as the last one did says nothing; nothing: worth a try.
    virtual std::optional<std::string> busy() const = 0;
    // Opens the connection; false after the library has said why.
    virtual bool open() = 0;
    virtual void close() = 0;
    // Sends the job's look; true when every frame of it was written whole.
    virtual bool send(const Job& job) = 0;
};

}  // namespace tivgate
