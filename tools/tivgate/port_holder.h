// Who holds a serial port that would not open, as far as the lock files of
// /run/lock tell: a daemon running as another user keeps its /proc closed to
// us, but the lock it leaves names its process and belongs to its user.
// olad's serial plugins are the usual holder on a fresh install, so for it
// the line says which of its plugin files to turn off.
#pragma once

#include <optional>
#include <string>

namespace tivgate {

// A log line naming the holder of `device` ("/dev/ttyUSB0"), or nothing
// when no lock file names one. `lock_dir` is /run/lock but for tests.
std::optional<std::string> port_holder_line(const std::string& device, const std::string& lock_dir = "/run/lock");

}  // namespace tivgate
