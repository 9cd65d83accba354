// What the bus should have seen: frames given by their logical content and
// the pause the library must keep after each, checked against the simulated
// bus's log byte for byte and gap by gap.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/frame_decoder.h"

// A payload byte of -1 is not known in advance (a random draw): the byte
// received there is taken, and the frame must still match byte for byte.
constexpr int kAnyByte = -1;

// A pause of -1: the host itself waits before its next call, so the gap
// says nothing about the library.
constexpr int kHostPaced = -1;

struct ExpectedFrame {
    uint32_t address;  // as passed to the library; the low 24 bits go out
    uint8_t command;
    std::vector<int> payload;
    int pause_ms;  // the gap the library must leave before the next frame
};

// Wire bytes of a frame, encoded independently of the library.
std::vector<uint8_t> reference_frame(uint32_t address, uint8_t command,
                                     const std::vector<uint8_t>& payload);

struct GapTolerance {
    // Wide enough for the line's delivery jitter on a loaded machine, narrow
    // enough to tell every pause of the library from its absence; whether a
    // pause ever ends early is timed inside the host, without that jitter.
    std::chrono::microseconds early{5000};
    std::chrono::microseconds late{25000};
};

// How far each checked gap ran past its pause, in milliseconds.
struct PauseStats {
    std::vector<double> over_ms;
};

// Every difference found, one line each; empty when the log matches. Gaps
// after a pause are added to `stats` when given.
std::vector<std::string> check_frames(const std::vector<tivsim::DecodedFrame>& got,
                                      const std::vector<ExpectedFrame>& want,
                                      PauseStats* stats = nullptr, GapTolerance tolerance = {});

// The whole run's, printed at its end: gaps on the wire, and sends to a
// physical address timed inside the host.
PauseStats& wire_pause_stats();
PauseStats& host_pause_stats();

std::string hex(const std::vector<uint8_t>& bytes);
