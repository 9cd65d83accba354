#include "bench/line_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tivbench {

LineProcess::LineProcess(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (argv.empty() || pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    pid_ = pid;
    to_ = fdopen(in[1], "w");
    from_ = fdopen(out[0], "r");
}

LineProcess::~LineProcess() {
    if (to_) fclose(to_);
    if (from_) fclose(from_);
    if (pid_ > 0) {
        int status;
        waitpid(pid_, &status, 0);
    }
}

bool LineProcess::send(const std::string& line) {
    if (!to_) return false;
    return std::fputs((line + "\n").c_str(), to_) >= 0 && std::fflush(to_) == 0;
}

std::optional<std::string> LineProcess::receive() {
    if (!from_) return std::nullopt;
    std::string line;
    for (int c; (c = std::fgetc(from_)) != EOF;) {
        if (c == '\n') return line;
        line += (char)c;
    }
    return std::nullopt;
}

}  // namespace tivbench
