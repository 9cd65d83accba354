// A serial device opened for listening: raw, 8N1, at the given speed.
#pragma once

#include <cstdint>
#include <string>

#include "sim/unique_fd.h"

namespace tivctl {

// Empty fd and a one-line reason when the device cannot be used.
tivsim::UniqueFd open_serial_device(const std::string& path, uint32_t baud, std::string& error);

}  // namespace tivctl
