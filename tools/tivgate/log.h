// tivgate's log: one line per call on standard error, each written at once
// so that lines from two threads never interleave. When standard error is
// the journal (systemd sets JOURNAL_STREAM to its device and inode), each
// line starts with its sd-daemon priority, so that `journalctl -p warning`
// finds a lost bus.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tivgate {

enum class Priority { err = 3, warning = 4, notice = 5, info = 6 };

void log_line(Priority priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Where lines go instead, for tests; an empty function restores standard error.
void set_log_sink(std::function<void(Priority, const std::string&)> sink);

// A failure that repeats (a port held by another process, olad refusing):
// told in full once when it starts, then summed up every ten minutes while
// it lasts, and once more when it ends, if it repeated at all.
class RepeatedFailure {
public:
    using Clock = std::chrono::steady_clock;
    explicit RepeatedFailure(std::string subject) : subject_(std::move(subject)) {}

    // One occurrence: true for the first of an outage, which the caller
    // tells in full; the later ones only count.
    bool occurred(const std::string& what, Clock::time_point now);
    // The outage is over.
    void ended(Clock::time_point now);
    bool active() const { return count_ > 0; }
    uint64_t count() const { return count_; }

private:
    std::string subject_;
    std::string last_;
    uint64_t count_ = 0;
    uint64_t told_ = 0;  // occurrences covered by a line already
    Clock::time_point since_{};
    Clock::time_point told_at_{};
};

}  // namespace tivgate
