#include "sim/com_env.h"

#include <stdlib.h>

#include <stdexcept>

namespace tivsim {

std::string com_env_name(int n) {
    if (n < 1) throw std::invalid_argument("COM port numbers start at 1");
    return "TIVLINK_COM" + std::to_string(n);
}

void set_com_env(int n, const std::string& device_path) {
    setenv(com_env_name(n).c_str(), device_path.c_str(), 1);
}

void unset_com_env(int n) { unsetenv(com_env_name(n).c_str()); }

std::string com_device(int n) {
    const char* named = getenv(com_env_name(n).c_str());
    return named && *named ? named : "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace tivsim
