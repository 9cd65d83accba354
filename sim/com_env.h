// The Linux library opens "COM<n>" as the device named by TIVLINK_COM<n>.
// These change the process environment: call them while no other thread
// reads it (before the library opens the port).
#pragma once

#include <string>

namespace tivsim {

std::string com_env_name(int n);  // "TIVLINK_COM<n>"; n >= 1
void set_com_env(int n, const std::string& device_path);
void unset_com_env(int n);
// The device the library opens as COM<n>: TIVLINK_COM<n>, else /dev/ttyS<n-1>.
std::string com_device(int n);

}  // namespace tivsim
