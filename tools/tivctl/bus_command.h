// One operation from opening the connection to closing it, on a serial
// port or on a simulated bus.
#pragma once

#include "tools/tivctl/request.h"

namespace tivctl {

int run_on_bus(const Request& request);

}  // namespace tivctl
