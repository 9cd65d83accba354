// Where the status page listens: an IPv4 address and a TCP port, written
// "127.0.0.1:9011" in the patch's [http] listen and after --http.
#pragma once

#include <cstdint>
#include <string_view>

#include "tools/common/number_parse.h"

namespace tivgate {

// Beside olad's RPC port (9010), below the 9090s where olad's web UI and
// Prometheus (9090) and its companions (9091, 9093) listen, and below the
// 9100 and up that Prometheus's exporters take by custom.
inline constexpr const char* kDefaultHttpListen = "127.0.0.1:9011";

struct ListenAddress {
    uint32_t ip = 0;  // host order
    uint16_t port = 0;
    bool loopback() const { return ip >> 24 == 127; }
};

// A dotted IPv4 address, a colon and a port 1..65535.
tivtools::Parsed<ListenAddress> parse_listen(std::string_view text);

}  // namespace tivgate
