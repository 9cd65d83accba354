#include "tools/tivgate/listen_address.h"

#include <arpa/inet.h>

#include <string>

namespace tivgate {

tivtools::Parsed<ListenAddress> parse_listen(std::string_view text) {
    const auto fail = [&] {
        return tivtools::Parsed<ListenAddress>::fail("'" + std::string(text) +
                                                     "' is not an IPv4 address and port such as 127.0.0.1:9011");
    };
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return fail();
    in_addr ip{};
    if (inet_pton(AF_INET, std::string(text.substr(0, colon)).c_str(), &ip) != 1) return fail();
    const std::string_view port = text.substr(colon + 1);
    // Decimal only: a port is never written in hex.
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos)
        return fail();
    const unsigned long number = std::stoul(std::string(port));
    if (number < 1 || number > 65535) return fail();
    return {ListenAddress{ntohl(ip.s_addr), (uint16_t)number}, {}};
}

}  // namespace tivgate
