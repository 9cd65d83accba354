/* A minimal tivlink host in C: opens a port, lights a device, sends a
 * program, closes. Build: cc host.c $(pkg-config --cflags --libs tivlink)
 * Run:   ./host PORT ADDRESS   (ADDRESS in decimal or 0x-hex) */
#include <stdio.h>
#include <stdlib.h>

#include <tivlink.h>

/* A whole number within max, or -1: "zz", "12x" and "" are not numbers. */
static long parse_number(const char* text, unsigned long max) {
    char* end = NULL;
    if (*text == '-' || *text == '+') return -1;
    unsigned long n = strtoul(text, &end, 0);
    return end != text && *end == '\0' && n <= max ? (long)n : -1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s PORT ADDRESS\n", argv[0]);
        return 2;
    }
    long port = parse_number(argv[1], 9);
    long address = parse_number(argv[2], 0xFFFFFF);
    if (port < 1) {
        fprintf(stderr, "PORT '%s' is not a number 1..9\n", argv[1]);
        return 2;
    }
    if (address < 0) {
        fprintf(stderr, "ADDRESS '%s' is not a number 0..0xFFFFFF\n", argv[2]);
        return 2;
    }
    if (init_tiv3((int32_t)port, 115200) != 0) return 1;
    int failed = set_rgbx((uint32_t)address, 0x10203040) != 0;
    failed |= xd_prog((uint32_t)address, 3) != 0;
    exit_tiv3();
    puts(failed ? "failed" : "done");
    return failed;
}
