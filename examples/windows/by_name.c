/* The same through tivlink.dll loaded at run time: no header, no import
 * library, each export looked up by its exact name.
 *   i686-w64-mingw32-gcc by_name.c */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

typedef int32_t(__cdecl* init_tiv3_fn)(int32_t comnr, int32_t baud);
typedef void(__cdecl* exit_tiv3_fn)(void);
typedef int32_t(__cdecl* set_rgbx_fn)(uint32_t a, uint32_t colour);

int main(int argc, char** argv) {
    int port = argc > 1 ? atoi(argv[1]) : 1;
    HMODULE dll = LoadLibraryA("tivlink.dll");
    if (!dll) return 2;
    init_tiv3_fn init_tiv3 = (init_tiv3_fn)GetProcAddress(dll, "_init_tiv3");
    exit_tiv3_fn exit_tiv3 = (exit_tiv3_fn)GetProcAddress(dll, "_exit_tiv3");
    set_rgbx_fn set_rgbx = (set_rgbx_fn)GetProcAddress(dll, "_set_rgbx");
    /* Variables are exported too: GetProcAddress gives their address. */
    volatile int32_t* e2_percent = (volatile int32_t*)GetProcAddress(dll, "_e2_percent");
    if (!init_tiv3 || !exit_tiv3 || !set_rgbx || !e2_percent) return 2;

    if (init_tiv3(port, 9600) != 0) return 2;
    int result = set_rgbx(5, 0xFF800000);
    exit_tiv3();
    printf("set_rgbx: %d, idle progress: %d\n", result, (int)*e2_percent);
    FreeLibrary(dll);
    return result == 0 ? 0 : 3;
}
