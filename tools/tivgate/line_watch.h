// Notices, without polling, the line's name or its device node coming and
// going: inotify on the folder of the name (a /dev/serial/by-id link, a
// node) and on the folder of the node it leads to (/dev, /dev/pts).
#pragma once

#include <string>
#include <vector>

namespace tivgate {

class LineWatch {
public:
    LineWatch();
    ~LineWatch();
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    int fd() const { return fd_; }
    // Watches for `path` and the node it leads to now; a second call with
    // the same result changes nothing.
    void follow(const std::string& path);
    // Reads the events that came; true when one concerns the watched names.
    bool changed();

private:
    struct Watch {
        int wd;
        std::string dir;
        std::string name;  // the entry of dir that matters
    };
    int fd_;
    std::vector<Watch> watches_;
};

}  // namespace tivgate
