// A child process spoken to in lines over its standard input and output.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tivbench {

class LineProcess {
public:
    // Starts argv[0] with the given arguments; running() tells whether it did.
    explicit LineProcess(const std::vector<std::string>& argv);
    ~LineProcess();  // closes its input and waits for it
    LineProcess(const LineProcess&) = delete;
    LineProcess& operator=(const LineProcess&) = delete;

    bool running() const { return pid_ > 0; }
    bool send(const std::string& line);
    // The next line of its output, without the newline; nullopt at its end.
    std::optional<std::string> receive();

private:
    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};

}  // namespace tivbench
