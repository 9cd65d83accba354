#include "fuzz/fuzz_check.h"

#include "tests/support/stderr_capture.h"

static void abort_on_box(const CapturedBox& box) {
    fprintf(stderr, "unexpected box: %s\n", box.text.c_str());
    abort();
}

void fuzz_abort_on_boxes() { static StderrCapture capture(abort_on_box); }
