#include "tests/support/stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

// The replacements are plain functions, so what they fill lives here; the
// lock guards all of it.
struct Taken {
    std::mutex lock;
    bool active = false;
    void (*on_box)(const CapturedBox&) = nullptr;
    std::vector<CapturedBox> boxes;
    int beeps = 0;
};

Taken& taken() {
    static Taken t;
    return t;
}

// The caption is "Error: " and the executable's path, which in a test build
// holds no ": "; the text follows the first ": " after that. The line's own
// newline is the box's, not the text's.
CapturedBox split_box(std::string line) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    static const std::string prefix = "Error: ";
    size_t from = line.compare(0, prefix.size(), prefix) == 0 ? prefix.size() : 0;
    size_t colon = line.find(": ", from);
    if (colon == std::string::npos) return {line, ""};
    return {line.substr(0, colon), line.substr(colon + 2)};
}

ssize_t take_write(int fd, const void* buffer, size_t count) {
    if (fd == STDERR_FILENO) {
        Taken& t = taken();
        std::lock_guard<std::mutex> hold(t.lock);
        if (t.active) {
            const char* bytes = static_cast<const char*>(buffer);
            if (count == 1 && bytes[0] == '\a') {
                t.beeps++;
            } else {
                t.boxes.push_back(split_box(std::string(bytes, count)));
                if (t.on_box) t.on_box(t.boxes.back());
            }
            return (ssize_t)count;
        }
    }
    return platform_syscalls_default.write(fd, buffer, count);
}

int stderr_is_terminal(int fd) {
    return fd == STDERR_FILENO ? 1 : platform_syscalls_default.isatty(fd);
}

}  // namespace

StderrCapture::StderrCapture(void (*on_box)(const CapturedBox&))
    : write_(take_write), isatty_(stderr_is_terminal) {
    Taken& t = taken();
    std::lock_guard<std::mutex> hold(t.lock);
    if (t.active) {
        fprintf(stderr, "StderrCapture: one capture at a time\n");
        abort();
    }
    t.boxes.clear();
    t.beeps = 0;
    t.active = true;
    t.on_box = on_box;
}

StderrCapture::~StderrCapture() {
    Taken& t = taken();
    std::lock_guard<std::mutex> hold(t.lock);
    t.active = false;
}

std::vector<CapturedBox> StderrCapture::boxes() const {
    Taken& t = taken();
    std::lock_guard<std::mutex> hold(t.lock);
    return t.boxes;
}

std::vector<std::string> StderrCapture::texts() const {
    std::vector<std::string> texts;
    for (const CapturedBox& box : boxes()) texts.push_back(box.text);
    return texts;
}

int StderrCapture::beeps() const {
    Taken& t = taken();
    std::lock_guard<std::mutex> hold(t.lock);
    return t.beeps;
}

void StderrCapture::clear() {
    Taken& t = taken();
    std::lock_guard<std::mutex> hold(t.lock);
    t.boxes.clear();
    t.beeps = 0;
}
