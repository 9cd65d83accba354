/* A minimal tivlink host in C: opens a port, lights a device, sends a
 * program, closes. Build: cc host.c $(pkg-config --cflags --libs tivlink)
 * Run:   ./host PORT ADDRESS   (ADDRESS in decimal or 0x-hex) */
#include <stdio.h>
#include <stdlib.h>

#include <tivlink.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s PORT ADDRESS\n", argv[0]);
        return 2;
    }
    int port = atoi(argv[1]);
    uint32_t address = (uint32_t)strtoul(argv[2], NULL, 0);
    if (port < 1 || port > 9) {
        fprintf(stderr, "port must be 1..9\n");
        return 2;
    }
    if (init_tiv3(port, 115200) != 0) return 1;
    int failed = set_rgbx(address, 0x10203040) != 0;
    failed |= xd_prog(address, 3) != 0;
    exit_tiv3();
    puts(failed ? "failed" : "done");
    return failed;
}
