// Runs the tools as a user would: as separate processes, with their output
// on pipes or on a pseudo-terminal, every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

using Env = std::vector<std::pair<std::string, std::string>>;  // set in the child; "" value unsets

struct ChildOptions {
    Env env;
    bool terminal = false;  // stdout and stderr on one pty (size below), else two pipes
    unsigned short rows = 30, columns = 100;
};

class Child {
public:
    Child(const std::vector<std::string>& argv, const ChildOptions& options = {});
    ~Child();  // kills and reaps a child still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads output until `needle` has appeared in stdout (or the pty) after
    // position `from`; false when the time ran out or the child closed it.
    bool wait_for(const std::string& needle, std::chrono::milliseconds timeout, size_t from = 0);
    void send(const std::string& bytes);  // to the pty (terminal children)
    void signal(int signal);
    void close_out();  // stop reading its stdout: its next write finds no reader
    // Reaps the child; its exit status, 128 + signal, or -1 when it did not
    // end in time (it is then killed).
    int wait(std::chrono::milliseconds timeout);

    const std::string& out() const { return out_; }  // stdout, or everything on the pty
    const std::string& err() const { return err_; }

private:
    void pump(std::chrono::milliseconds timeout);  // one poll round

    pid_t pid_ = -1;
    int out_fd_ = -1, err_fd_ = -1;
    std::string out_, err_;
    int status_ = -1;
};

struct Finished {
    int status;
    std::string out, err;
};

// Runs to the end (bounded) with output on pipes.
Finished run_to_end(const std::vector<std::string>& argv, const Env& env = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Lines of a text, without their line breaks ("\r\n" or "\n").
std::vector<std::string> lines_of(const std::string& text);
