// `tivctl demo`: a scripted run on a simulated bus of four devices that uses
// every operation and shows the devices change after each step.
#pragma once

#include "tools/tivctl/request.h"

namespace tivctl {

int run_demo(const Request& request);

}  // namespace tivctl
