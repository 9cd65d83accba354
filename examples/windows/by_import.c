/* Sets the colour of device group 5 through tivlink.dll, linked with its
 * import library:
 *   i686-w64-mingw32-gcc by_import.c -I<tivlink>/include -L<dir of libtivlink.dll.a> -ltivlink
 * Run it with the COM port number as its argument, tivlink.dll beside it. */
#include <stdio.h>
#include <stdlib.h>

#include "tivlink.h"

int main(int argc, char** argv) {
    int port = argc > 1 ? atoi(argv[1]) : 1;
    if (init_tiv3(port, 9600) != 0) return 2; /* the library has shown why */
    int result = set_rgbx(5, 0xFF800000);
    exit_tiv3();
    printf("set_rgbx: %d\n", result);
    return result == 0 ? 0 : 3;
}
