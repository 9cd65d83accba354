// One operation from opening the connection to closing it.
#pragma once

#include <functional>

#include "tools/tivctl/request.h"

namespace tivctl {

// `on_closed` runs once the connection is closed (the --sim report).
int run_on_bus(const Request& request, const std::function<void()>& on_closed = {});

}  // namespace tivctl
