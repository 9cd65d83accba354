// The control socket's listening end: a Unix stream socket at a path that
// its owner and its group may connect to (mode 0660; the group is the
// process's own, which the unit's Group= chooses), and nobody else. A
// socket left behind by a crash is taken over: one that no process answers
// at is removed first. The file goes when the listener does.
#pragma once

#include <sys/types.h>

#include <string>
#include <variant>

namespace tivgate {

class UnixListener {
public:
    // Listening at `path`, or why not, in one line.
    static std::variant<UnixListener, std::string> bind(const std::string& path);
    UnixListener(UnixListener&& other) noexcept;
    UnixListener& operator=(UnixListener&&) = delete;
    UnixListener(const UnixListener&) = delete;
    ~UnixListener();

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // A connection waiting to be taken (non-blocking, close-on-exec), or -1.
    int accept() const;

private:
    UnixListener(int fd, std::string path, ino_t inode) : fd_(fd), path_(std::move(path)), inode_(inode) {}
    int fd_;
    std::string path_;
    ino_t inode_;  // of our socket file, so that we remove only that one
};

}  // namespace tivgate
