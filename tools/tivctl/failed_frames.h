// How many frames the library has failed to write whole so far, where the
// build can tell: the setup sequences return their usual result whatever
// their frames did, so this count is the only way to see their failures.
#pragma once

#include <cstdint>
#include <optional>

namespace tivctl {

// Frames not written whole since the library was loaded; empty where the
// library does not report it (the Windows DLL's export table has no such
// count).
std::optional<uint32_t> failed_frames();

// What this build can say about failed frames of the setup sequences, for
// their --help; empty when it sees them all.
const char* setup_failure_note();

}  // namespace tivctl
