/* Bound by the loader through the import library: nothing to do at run time. */
#include "host.h"

int bind_library(int list_exports) {
    (void)list_exports;
    return 1;
}
