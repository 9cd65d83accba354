#include "tools/tivctl/gateway_command.h"

#include <errno.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/tivctl/exit_status.h"

namespace tivctl {

namespace {

namespace fs = std::filesystem;

// Where the units put their sockets: RuntimeDirectory=tivgate/NAME.
const char* const kRuntimeDir = "/run/tivgate";
std::string named(const std::string& name) { return std::string(kRuntimeDir) + "/" + name + "/control.sock"; }
// tivgate answers at once; this bounds a stuck one.
constexpr int kAnswerMs = 5000;

struct Target {
    std::string path;
    std::string error;  // set when no path could be chosen
};

Target socket_path(const std::string& gateway) {
    if (gateway.find('/') != std::string::npos) return {gateway, {}};
    if (!gateway.empty()) return {named(gateway), {}};
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kRuntimeDir, ec))
        if (fs::exists(entry.path() / "control.sock", ec)) found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    if (found.size() == 1) return {named(found[0]), {}};
    if (found.empty())
        return {{}, std::string("no tivgate control socket in ") + kRuntimeDir +
                        ": is tivgate running? (--gateway NAME|PATH names one)"};
    std::string names;
    for (const std::string& n : found) names += (names.empty() ? "" : ", ") + n;
    return {{}, "several tivgates run (" + names + "): choose one with --gateway NAME"};
}

// Why connect() failed, in the installer's terms.
std::string refusal(const std::string& path, int err) {
    if (err == ENOENT) return "no socket at " + path + ": is that tivgate running (with --control)?";
    if (err == ECONNREFUSED) return "nobody answers at " + path + ": that tivgate is not running";
    struct stat st;
    if (err == EACCES && stat(path.c_str(), &st) == 0) {
        const group* g = getgrgid(st.st_gid);
        return path + " admits its owner and group " + (g ? std::string(g->gr_name) : std::to_string(st.st_gid)) +
               " only: run as one of them";
    }
    return "cannot connect to " + path + ": " + std::strerror(err);
}

int failed(const std::string& why) {
    std::fprintf(stderr, "tivctl: %s\n", why.c_str());
    return kExitFailed;
}

// Writes `line` and reads one line back within kAnswerMs.
bool exchange(int fd, const std::string& line, std::string& answer) {
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size()) return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
    char buf[4096];
    while (answer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, (int)left.count()) <= 0) return false;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        answer.append(buf, (size_t)n);
    }
    answer.erase(answer.find('\n'));
    return true;
}

}  // namespace

int run_gateway(const std::string& gateway, const tivtools::ControlCommand& command) {
    const Target target = socket_path(gateway);
    if (!target.error.empty()) return failed(target.error);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (target.path.size() >= sizeof addr.sun_path) return failed("socket path too long: " + target.path);
    std::memcpy(addr.sun_path, target.path.c_str(), target.path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return failed(std::string("socket: ") + std::strerror(errno));
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        close(fd);
        return failed(refusal(target.path, err));
    }
    std::string answer;
    const bool answered = exchange(fd, tivtools::control_line(command) + "\n", answer);
    close(fd);
    if (!answered) return failed("no answer from " + target.path + " within " + std::to_string(kAnswerMs / 1000) + " s");
    const bool ok = answer.rfind(tivtools::kAnswerOk, 0) == 0;
    std::fprintf(ok ? stdout : stderr, "%s\n", answer.c_str());
    return ok ? kExitOk : kExitFailed;
}

}  // namespace tivctl
