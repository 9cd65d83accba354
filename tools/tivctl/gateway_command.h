// identify, test, release, status: one line to a running tivgate's control
// socket, its one-line JSON answer on standard output (standard error when
// it refuses). Linux only.
#pragma once

#include <string>

#include "tools/common/control_command.h"

namespace tivctl {

// `gateway`: an instance NAME (/run/tivgate/NAME/control.sock), a PATH (it
// has a '/'), or empty: the only gateway in /run/tivgate.
int run_gateway(const std::string& gateway, const tivtools::ControlCommand& command);

}  // namespace tivctl
