// What the bus thread tells the main thread about the line, for the status
// line: one small record behind a mutex of its own.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace tivgate {

struct LineView {
    bool open = false;
    std::string device;  // the node the line is on, or was on
    std::chrono::steady_clock::time_point since{};  // of the state
};

class LineReport {
public:
    void set(LineView view) {
        std::lock_guard lock(mutex_);
        view_ = std::move(view);
    }
    LineView view() const {
        std::lock_guard lock(mutex_);
        return view_;
    }

private:
    mutable std::mutex mutex_;
    LineView view_;  // guarded by mutex_
};

}  // namespace tivgate
