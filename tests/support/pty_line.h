// A pseudo-terminal standing in for a serial line in tests: the library
// opens the slave as COM<n>, the test reads and writes the master.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct PtyLine {
    explicit PtyLine(int comnr);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Reads from the master until `count` bytes arrived or the time ran out.
    std::vector<uint8_t> read(size_t count, std::chrono::milliseconds timeout);
    // Reads whatever arrives until the line stays quiet for `quiet`.
    std::vector<uint8_t> read_until_quiet(std::chrono::milliseconds quiet);
    void write(const std::vector<uint8_t>& bytes);

    int master = -1;
    int comnr;
    std::string slave_path;
};

// Counts of what a process holds, to prove that cycles leak nothing.
struct ProcessResources {
    int fds;
    int threads;
};
ProcessResources process_resources();
