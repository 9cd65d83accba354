// tivctl's exit statuses.
#pragma once

namespace tivctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation failed, or the library reported an error
inline constexpr int kExitUsage = 2;   // the command line was refused; nothing was sent
// A stop signal ends a command with 128 + its number (130 for Ctrl-C).

}  // namespace tivctl
