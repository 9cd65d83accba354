// The least host of a download: the library's process and nothing else
// that runs per frame. It waits for the worker on its handle instead of
// polling, so what the process spends per frame is the library's.
// scripts/frame_cost.sh runs it against tivsim, which is another process.
//
//   download_host COMNR BYTES
#include <cstdio>
#include <cstdlib>

#include "tivlink.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_host COMNR BYTES\n");
        return 2;
    }
    const int com = std::atoi(argv[1]);
    const int bytes = std::atoi(argv[2]);
    if (com < 1 || com > 9 || bytes < 0 || bytes > 2048) return 2;
    if (init_tiv3(com, 115200) != 0) return 1;
    for (int i = 0; i < bytes; i++) e2_data[i] = (uint8_t)i;
    e2_adr = 0x100;  // past the device's address bytes, which a download must not write
    e2_len = (uint32_t)bytes;
    e2_cmd = 1;
    const int32_t code = tiv_thread_join(download(0x123456));
    exit_tiv3();
    return code == 0 ? 0 : 1;
}
