// The lines tivgate's control socket takes, one command each, and the text
// tivctl writes for them. docs/gateway.md gives the grammar:
//
//   identify ADDR [SECONDS]      identify group G [SECONDS]
//   test COLOUR [SECONDS]        test chase [SECONDS]
//   release                      status
//
// Parsing is a pure function of the line (the fuzz target holds it to
// that); whether an address is in the patch is the gateway's question.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/common/number_parse.h"

namespace tivtools {

enum class ControlVerb { identify, identify_group, test, chase, release, status };

inline constexpr unsigned kOverrideSecondsDefault = 10;
inline constexpr unsigned kOverrideSecondsMax = 3600;  // an override always ends, and within the hour

struct ControlCommand {
    ControlVerb verb = ControlVerb::status;
    uint32_t target = 0;              // identify: the address; identify_group: the group; test: the colour
    std::optional<unsigned> seconds;  // 1..kOverrideSecondsMax; none: the default
    bool operator==(const ControlCommand&) const = default;
};

// A line without its "\n". The error is one line of printable ASCII, so
// that it goes into the answer whatever bytes came in.
Parsed<ControlCommand> parse_control_line(std::string_view line);

// The line that asks for `command`, without "\n".
std::string control_line(const ControlCommand& command);

// Every answer is one JSON object on one line that begins with this when
// the command was taken, and with {"ok":false,"error":"..."} when not.
inline constexpr std::string_view kAnswerOk = "{\"ok\":true";

}  // namespace tivtools
