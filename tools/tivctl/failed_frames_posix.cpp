#include "tools/tivctl/failed_frames.h"

#include "tivlink.h"

namespace tivctl {

std::optional<uint32_t> failed_frames() { return tiv_failed_frames(); }

const char* setup_failure_note() { return ""; }

}  // namespace tivctl
