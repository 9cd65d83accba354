#include "fuzz/fuzz_check.h"

void fuzz_abort_on_box(const char*, const char* text, unsigned) {
    fprintf(stderr, "unexpected box: %s\n", text);
    abort();
}
