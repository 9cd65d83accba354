// The gateway's figures for Prometheus, in its text format 0.0.4:
// docs/gateway.md lists them.
#pragma once

#include <string>

#include "tools/tivgate/gateway.h"

namespace tivgate {

std::string metrics_text(const Snapshot& s, const std::string& version);

}  // namespace tivgate
