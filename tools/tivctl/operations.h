// The library calls behind each tivctl sub-command, on an open connection.
#pragma once

#include "tools/tivctl/request.h"

namespace tivctl {

// Runs one operation other than download; prints what the user needs to
// know (set-serial: the address stored). Returns an exit status.
int run_operation(const Operation& op);

// "set-rgbx 0x010001 #11223344" and the like, for logs and the demo.
std::string operation_text(const Operation& op);

}  // namespace tivctl
