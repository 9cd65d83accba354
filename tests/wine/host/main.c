#include <stdio.h>
#include <string.h>

#include "host.h"

int main(int argc, char** argv) {
    /* Unbuffered, so lines printed before a fatal stop still arrive. */
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 2) {
        printf("usage: host SCENARIO PORT [ARGS...]\n");
        return HOST_USAGE;
    }
    if (!bind_library(strcmp(argv[1], "exports") == 0)) return HOST_UNBOUND;
    return run_scenario(argc - 1, argv + 1);
}
