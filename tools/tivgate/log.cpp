#include "tools/tivgate/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tivgate {

namespace {

using namespace std::chrono_literals;

constexpr auto kSummaryEvery = 10min;

bool stderr_is_journal() {
    const char* stream = getenv("JOURNAL_STREAM");
    unsigned long long dev = 0, ino = 0;
    struct stat st;
    return stream && std::sscanf(stream, "%llu:%llu", &dev, &ino) == 2 && fstat(STDERR_FILENO, &st) == 0 &&
           st.st_dev == dev && st.st_ino == ino;
}

std::mutex sink_mutex;
std::function<void(Priority, const std::string&)> sink;  // guarded by sink_mutex

long long seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::seconds>(d).count();
}

}  // namespace

void log_line(Priority priority, const char* format, ...) {
    static const bool journal = stderr_is_journal();
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    {
        std::lock_guard lock(sink_mutex);
        if (sink) return sink(priority, text);
    }
    char line[600];
    const int n = journal ? std::snprintf(line, sizeof line, "<%d>tivgate: %s\n", (int)priority, text)
                          : std::snprintf(line, sizeof line, "tivgate: %s\n", text);
    if (n > 0) {
        const ssize_t ignored = write(STDERR_FILENO, line, std::min((size_t)n, sizeof line - 1));
        (void)ignored;
    }
}

void set_log_sink(std::function<void(Priority, const std::string&)> to) {
    std::lock_guard lock(sink_mutex);
    sink = std::move(to);
}

bool RepeatedFailure::occurred(const std::string& what, Clock::time_point now) {
    last_ = what;
    if (count_++ == 0) {
        since_ = told_at_ = now;
        told_ = 1;
        return true;
    }
    if (now - told_at_ >= kSummaryEvery) {
        log_line(Priority::warning, "%s: still so after %lld s, %llu more times since the last word; the last: %s",
                 subject_.c_str(), seconds(now - since_), (unsigned long long)(count_ - told_), what.c_str());
        told_ = count_;
        told_at_ = now;
    }
    return false;
}

void RepeatedFailure::ended(Clock::time_point now) {
    if (count_ > 1)
        log_line(Priority::notice, "%s: over after %lld s and %llu times; the last: %s", subject_.c_str(),
                 seconds(now - since_), (unsigned long long)count_, last_.c_str());
    count_ = told_ = 0;
}

}  // namespace tivgate
