// The control socket's command parser on arbitrary lines: it never fails
// but with one line of printable ASCII, and whatever it takes, the line
// tivctl would write for it reads back as the same command.
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "tools/common/control_command.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto parsed = tivtools::parse_control_line(line);
    if (!parsed) {
        FUZZ_CHECK(!parsed.error.empty() && parsed.error.size() <= size + 200);
        for (char c : parsed.error) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
        return 0;
    }
    const tivtools::ControlCommand& c = *parsed.value;
    FUZZ_CHECK(!c.seconds || (*c.seconds >= 1 && *c.seconds <= tivtools::kOverrideSecondsMax));
    const auto again = tivtools::parse_control_line(tivtools::control_line(c));
    FUZZ_CHECK(again && *again.value == c);
    return 0;
}
