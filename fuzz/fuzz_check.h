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

// From this call on, a box (which a fatal stop shows before it ends the
// process) is a finding too: the process aborts while the box is shown.
void fuzz_abort_on_boxes();
