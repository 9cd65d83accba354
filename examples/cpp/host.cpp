// A C++ host: fades every device of a group through a few colours.
// Run: ./cpp_host PORT GROUP
#include <tivlink.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " PORT GROUP\n";
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const auto group = static_cast<uint32_t>(std::stoul(argv[2], nullptr, 0));
    if (port < 1 || port > 9 || group > 0xFFFF) {
        std::cerr << "port must be 1..9 and GROUP a group address\n";
        return 2;
    }
    if (init_tiv3(port, 115200) != 0) return 1;
    bool ok = true;
    for (uint32_t colour : {0xFF000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu})
        ok = fade_rgbx(group, colour, 20) == 0 && ok;
    exit_tiv3();
    std::cout << (ok ? "done" : "failed") << '\n';
    return ok ? 0 : 1;
}
