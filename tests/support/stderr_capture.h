// Takes, while alive, what the library shows the user on standard error: each
// message box (one write of "CAPTION: TEXT\n") and each beep (a BEL, written
// only when standard error is a terminal, so it counts as one meanwhile).
// What it takes never reaches the real standard error; other writes pass.
// Boxes come from the download worker too, hence the lock inside. One
// capture at a time.
#pragma once

#include <string>
#include <vector>

#include "tests/support/syscall_swap.h"

struct CapturedBox {
    std::string caption, text;
};

class StderrCapture {
public:
    // `on_box`, when given, sees each box as it is shown, in the thread that
    // shows it (a fuzzer aborts there, before a fatal stop ends the process).
    explicit StderrCapture(void (*on_box)(const CapturedBox&) = nullptr);
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::vector<CapturedBox> boxes() const;
    std::vector<std::string> texts() const;
    int beeps() const;
    void clear();

private:
    SyscallSwap<&PlatformSyscalls::write> write_;
    SyscallSwap<&PlatformSyscalls::isatty> isatty_;
};
