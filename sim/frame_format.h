// One text line per logged item, for test failure messages and tools:
//
//   <time s>  <gap>  <address>  <command>  [<payload hex>]  crc <received> ok|bad (<computed>)  esc <n>
//
// time: seconds since `origin` (first byte); gap: from the previous item's
// last byte to this one's first byte ("-" for the first item). Malformed
// frames show their kind and raw wire bytes instead of the CRC; noise shows
// its byte count and bytes.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "sim/frame_decoder.h"
#include "sim/sim_clock.h"

namespace tivsim {

std::string hex_bytes(std::span<const uint8_t> bytes);  // "CA 00 01"

std::string format_frame(const DecodedFrame& item, Nanos origin, const DecodedFrame* previous);

// Every item of a log; origin is the first item's first byte.
std::vector<std::string> format_log(const std::vector<DecodedFrame>& log);

}  // namespace tivsim
