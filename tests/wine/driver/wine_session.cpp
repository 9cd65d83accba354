#include "wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string env_or(const char* name, const std::string& fallback) {
    const char* value = getenv(name);
    return value && *value ? value : fallback;
}

// The environment every Wine process gets: our prefix, quiet, no display,
// so a message box returns at once.
void set_wine_environment() {
    setenv("WINEPREFIX", wine_paths().prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
}

// Collects the child's output until it exits; its helpers may keep the pipe
// open, so the end of the child, not of the pipe, ends the wait.
HostRun collect(pid_t pid, int out, Clock::duration timeout, const std::string& interrupt_when) {
    HostRun run;
    auto start = Clock::now();
    for (;;) {
        struct pollfd p = {out, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buf[4096];
            ssize_t n = read(out, buf, sizeof buf);
            if (n > 0) run.output.append(buf, (size_t)n);
        }
        if (!interrupt_when.empty() && !run.interrupted && run.output.find(interrupt_when) != std::string::npos) {
            kill(-pid, SIGINT);
            run.interrupted = true;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (Clock::now() - start > timeout) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            run.timed_out = true;
            break;
        }
    }
    fcntl(out, F_SETFL, O_NONBLOCK);
    char buf[4096];
    for (ssize_t n; (n = read(out, buf, sizeof buf)) > 0;) run.output.append(buf, (size_t)n);
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return run;
}

HostRun run_program(const std::vector<std::string>& argv, const std::string& dir,
                    Clock::duration timeout, const std::string& interrupt_when = "") {
    // Everything the child needs is made before the fork: the bus's threads
    // may hold the allocator's lock at that moment.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const char* work_dir = dir.empty() ? nullptr : dir.c_str();
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        if (work_dir && chdir(work_dir) != 0) _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    HostRun run;
    if (pid > 0) run = collect(pid, pipe_fds[0], timeout, interrupt_when);
    close(pipe_fds[0]);
    return run;
}

}  // namespace

const WinePaths& wine_paths() {
    static const WinePaths paths = [] {
        WinePaths p;
        p.source_dir = TIVLINK_SOURCE_DIR;
        p.linux_build = env_or("TIVLINK_LINUX_BUILD", p.source_dir + "/build/linux");
        p.windows_build = env_or("TIVLINK_WINDOWS_BUILD", p.source_dir + "/build/windows");
        p.prefix = env_or("TIVLINK_WINE_PREFIX", p.windows_build + "/wine-prefix");
        p.work = p.windows_build + "/wine-work";
        return p;
    }();
    return paths;
}

bool wine_start(std::string& reason) {
    set_wine_environment();
    const WinePaths& p = wine_paths();
    fs::create_directories(p.work);
    for (const char* built : {"/tivlink.dll", "/tests/wine/wine_host_by_name.exe"}) {
        if (!fs::exists(p.windows_build + built)) {
            reason = "not built: " + p.windows_build + built;
            return false;
        }
    }
    if (!fs::exists(p.prefix + "/system.reg")) {
        // The first start builds the prefix (about ten seconds, twenty
        // under emulation).
        const auto start = std::chrono::steady_clock::now();
        HostRun boot = run_program({"wineboot", "-i"}, "", std::chrono::seconds(180));
        if (boot.status != 0) {
            reason = "wineboot failed: " + boot.output;
            return false;
        }
        printf("the first Wine start (wineboot -i, a fresh prefix) took %.1f s\n",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    // One server for the whole run, so each host starts in well under a
    // second; its own chatter goes to a file.
    std::string log = p.work + "/wineserver.log";
    std::string out;
    if (run_shell("wineserver -k; wineserver -w; wineserver -p >" + log + " 2>&1", out) != 0) {
        reason = "wineserver did not start: " + out;
        return false;
    }
    return true;
}

void wine_stop() {
    std::string out;
    run_shell("wineserver -k; wineserver -w", out);
}

HostRun run_wine(const std::string& exe, const std::vector<std::string>& args,
                 std::chrono::seconds timeout, const std::string& interrupt_when) {
    std::vector<std::string> argv{"wine", exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, fs::path(exe).parent_path(), timeout, interrupt_when);
}

std::string stage_hosts(const std::string& name, const std::string& dll) {
    const WinePaths& p = wine_paths();
    fs::path dir = fs::path(p.work) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& entry : fs::directory_iterator(p.windows_build + "/tests/wine"))
        if (entry.path().extension() == ".exe") fs::copy_file(entry.path(), dir / entry.path().filename());
    fs::copy_file(dll.empty() ? p.windows_build + "/tivlink.dll" : dll, dir / "tivlink.dll");
    return dir.string();
}

std::string staged_exe(const std::string& name) {
    return (fs::path(wine_paths().work) / "hosts" / (name + ".exe")).string();
}

std::string write_image(const std::string& name, const std::vector<uint8_t>& bytes, uint32_t start) {
    fs::path path = fs::path(wine_paths().work) / name;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
    const char address[4] = {(char)(start >> 24), (char)(start >> 16), (char)(start >> 8), (char)start};
    file.write(address, sizeof address);
    return windows_path(path.string());
}

static fs::path com_link(int n) {
    return fs::path(wine_paths().prefix) / "dosdevices" / ("com" + std::to_string(n));
}

void link_com(int n, const std::string& device) {
    unlink_com(n);
    fs::create_symlink(device, com_link(n));
}

void unlink_com(int n) {
    std::error_code ignored;
    fs::remove(com_link(n), ignored);
}

std::string windows_path(const std::string& path) {
    std::string result = "Z:" + fs::absolute(path).string();
    for (char& c : result)
        if (c == '/') c = '\\';
    return result;
}

std::string output_value(const std::string& output, const std::string& key) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

int run_shell(const std::string& command, std::string& output) {
    HostRun run = run_program({"/bin/sh", "-c", command}, "", std::chrono::seconds(120));
    output += run.output;
    return run.timed_out ? -1 : run.status;
}
