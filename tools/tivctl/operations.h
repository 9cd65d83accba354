// The library calls behind each tivctl sub-command, on an open connection.
#pragma once

#include "tools/tivctl/request.h"

namespace tivctl {

// Runs one operation other than download; prints what the user needs to
// know (set-serial: the address stored, only when every frame went out),
// or with `json` the result as one JSON object. Returns an exit status:
// kExitFailed when any of its frames failed, where the build can tell
// (tools/tivctl/failed_frames.h).
int run_operation(const Operation& op, bool json = false);

// {"operation":"set-rgbx ...","ok":true,"exit":0} plus "address" when given.
void print_result_json(const Operation& op, int status, const std::string& address = {});

// "set-rgbx 0x010001 '#11223344'" and the like, for logs and the demo:
// quoted so that a shell takes the line back as it stands.
std::string operation_text(const Operation& op);

}  // namespace tivctl
