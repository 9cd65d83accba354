#include "tools/tivgate/unix_listener.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>

namespace tivgate {

namespace {

constexpr int kBacklog = 16;
// Owner and group read and write (connecting needs write), nobody else.
constexpr mode_t kUmask = 0117;

std::string failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// A socket file that nobody answers at was left by a crash: removed. Any
// other file, or a socket someone answers at, stays, and we do not start.
std::optional<std::string> remove_stale(const std::string& path, const sockaddr_un& addr) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return std::nullopt;  // gone meanwhile
    if (!S_ISSOCK(st.st_mode)) return "it exists and is not a socket";
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) return failed("socket");
    const int r = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int err = errno;
    close(probe);
    if (r == 0 || err == EAGAIN) return "another process answers there (another tivgate?)";
    if (err != ECONNREFUSED) return "cannot tell whether a process answers there: " + std::string(std::strerror(err));
    if (unlink(path.c_str()) != 0) return failed("a stale socket is there and cannot be removed");
    return std::nullopt;
}

}  // namespace

std::variant<UnixListener, std::string> UnixListener::bind(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return "a socket's path is 1.." + std::to_string(sizeof addr.sun_path - 1) + " bytes long";
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return failed("socket");
    // The mode is set as the file is made, so no connection can come in
    // before it holds. Called before any thread runs: umask is the process's.
    const auto bind_once = [&] {
        const mode_t old = umask(kUmask);
        const int r = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        const int err = errno;
        umask(old);
        errno = err;
        return r == 0;
    };
    std::string why;
    if (!bind_once()) {
        if (errno != EADDRINUSE) why = failed("bind");
        else if (std::optional<std::string> stale = remove_stale(path, addr)) why = *stale;
        else if (!bind_once()) why = failed("bind");
    }
    const bool made = why.empty();
    struct stat st{};
    if (why.empty() && listen(fd, kBacklog) != 0) why = failed("listen");
    if (why.empty() && stat(path.c_str(), &st) != 0) why = failed("stat");
    if (!why.empty()) {
        close(fd);
        if (made) unlink(path.c_str());
        return why;
    }
    return UnixListener(fd, path, st.st_ino);
}

UnixListener::UnixListener(UnixListener&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), inode_(other.inode_) {
    other.fd_ = -1;
}

UnixListener::~UnixListener() {
    if (fd_ < 0) return;
    close(fd_);
    struct stat st;
    if (stat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
}

int UnixListener::accept() const { return accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }

}  // namespace tivgate
