// Checks inside fuzz targets: a broken property aborts, so libFuzzer keeps
// the input as a finding and the replay run fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);   \
            abort();                                                                            \
        }                                                                                       \
    } while (0)

// A box where none may appear (a fatal stop shows one before it ends the
// process) is a finding too.
void fuzz_abort_on_box(const char* caption, const char* text, unsigned type);
