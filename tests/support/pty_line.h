// A pseudo-terminal standing in for a serial line: the code under test
// opens the slave (as COM<n>), the test reads and writes the master.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <chrono>
#include <string>
#include <vector>

struct SlaveTermios {
    uint32_t iflag, oflag, cflag, lflag, ispeed, ospeed;
};

struct PtyLine {
    // comnr 0 maps no COM name. Without `hold_slave` the test keeps the
    // slave closed, so a closed port shows as a hang-up on the master; with
    // it the slave stays open, also for slave_termios(). `raw`: no line
    // editing or echo before the code under test sets its own.
    explicit PtyLine(int comnr = 0, bool hold_slave = false, bool raw = true);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Points TIVLINK_COM<n> at the slave until this line goes away.
    void map_to_com(int n);
    // Reads until `count` bytes arrived or the time ran out.
    std::vector<uint8_t> read(size_t count, std::chrono::milliseconds timeout);
    // Reads until the line stays quiet for `quiet` or `count` bytes arrived.
    std::vector<uint8_t> read_until_quiet(std::chrono::milliseconds quiet, size_t count = SIZE_MAX);
    void write(const void* data, size_t size);
    void write(const std::vector<uint8_t>& bytes) { write(bytes.data(), bytes.size()); }
    // The far end goes away.
    void close_master();
    SlaveTermios slave_termios() const;

    int master = -1;
    int comnr = 0;
    std::string slave_path;

private:
    int slave_probe_ = -1;
};
