// Decoded frames as text for people, one line each. Unlike the sim's own
// log format it shows the declared length and the command code, which a
// monitor of a real line needs to judge malformed frames.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/frame_decoder.h"

namespace tivtools {

// "SETUP_BEGIN (FD)", or "cmd 0x42" outside the command set.
std::string command_text(uint8_t command);

// Up to `limit` bytes as "12 01 ...", then "... (+N more)".
std::string hex_text(const std::vector<uint8_t>& bytes, size_t limit = 24);

// One line: time since `origin`, gap after the previous item (when given),
// then address, length, command, payload, CRC and escapes, or what was
// malformed about it.
std::string frame_line(const tivsim::DecodedFrame& f, tivsim::Nanos origin,
                       std::optional<tivsim::Nanos> previous_end);

// Every item of a log, gaps included.
std::vector<std::string> log_lines(const std::vector<tivsim::DecodedFrame>& log);

}  // namespace tivtools
