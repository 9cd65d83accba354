#include "tools/tivgate/log.h"

#include <cstdarg>
#include <cstdio>

namespace tivgate {

void log_line(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "tivgate: %s\n", text);  // one write, so lines stay whole
}

}  // namespace tivgate
