#include "tests/tools/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[noreturn]] void exec_child(const std::vector<std::string>& argv, const Env& env) {
    for (const auto& [name, value] : env) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int decode_status(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

milliseconds left_until(Clock::time_point deadline) {
    return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const ChildOptions& options) {
    if (options.terminal) {
        struct winsize size {};
        size.ws_row = options.rows;
        size.ws_col = options.columns;
        int master = -1;
        pid_ = forkpty(&master, nullptr, nullptr, &size);
        if (pid_ < 0) throw std::runtime_error("forkpty");
        if (pid_ == 0) exec_child(argv, options.env);
        out_fd_ = master;
        return;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        exec_child(argv, options.env);
    }
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
}

Child::~Child() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

void Child::pump(milliseconds timeout) {
    pollfd fds[2];
    std::string* sinks[2];
    int n = 0;
    if (out_fd_ >= 0) fds[n] = {out_fd_, POLLIN, 0}, sinks[n++] = &out_;
    if (err_fd_ >= 0) fds[n] = {err_fd_, POLLIN, 0}, sinks[n++] = &err_;
    if (n == 0 || poll(fds, (nfds_t)n, (int)timeout.count()) <= 0) return;
    for (int i = 0; i < n; i++) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t got = read(fds[i].fd, buf, sizeof buf);
        if (got > 0) {
            sinks[i]->append(buf, (size_t)got);
            continue;
        }
        // End of output (a pty reports EIO once the child has gone).
        close(fds[i].fd);
        (fds[i].fd == out_fd_ ? out_fd_ : err_fd_) = -1;
    }
}

bool Child::wait_for(const std::string& needle, milliseconds timeout, size_t from) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (out_.find(needle, from) == std::string::npos) {
        if (out_fd_ < 0 || Clock::now() >= deadline) return false;
        pump(std::min(left_until(deadline), milliseconds(100)));
    }
    return true;
}

void Child::send(const std::string& bytes) {
    if (out_fd_ >= 0 && write(out_fd_, bytes.data(), bytes.size()) != (ssize_t)bytes.size())
        throw std::runtime_error("write to child");
}

void Child::signal(int signal) {
    if (status_ < 0) kill(pid_, signal);
}

void Child::close_out() {
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
}

int Child::wait(milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (status_ < 0) {
        int raw = 0;
        const pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = decode_status(raw);
            break;
        }
        if (Clock::now() >= deadline) return -1;  // the destructor kills it
        pump(std::min(left_until(deadline), milliseconds(50)));
        if (out_fd_ < 0 && err_fd_ < 0) usleep(10000);
    }
    // Whatever output is still in the pipes.
    while (out_fd_ >= 0 || err_fd_ >= 0) {
        const size_t before = out_.size() + err_.size();
        pump(milliseconds(100));
        if (out_.size() + err_.size() == before && Clock::now() >= deadline) break;
    }
    return status_;
}

Finished run_to_end(const std::vector<std::string>& argv, const Env& env, milliseconds timeout) {
    Child child(argv, {env});
    const int status = child.wait(timeout);
    return {status, child.out(), child.err()};
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}
