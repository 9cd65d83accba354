#include "diagnostics/diagnostics.h"
#include "platform/win32.h"

void AssertFailed(const char* expression, const char* file, int line) {
    MsgError("ASSERTION FAILED: '%s': %s %d\n", expression, file, line);
    ExitProcess(1);
}
