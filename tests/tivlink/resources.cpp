#include "tests/tivlink/resources.h"

#include <malloc.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "tests/support/process_counts.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#define TIVLINK_SANITIZER_HEAP 1
#endif

namespace bus_test {

Resources Resources::now() {
    return Resources{open_fd_count(), thread_count()};
}

bool Resources::settle_to(const Resources& before) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!(now() == before) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return now() == before;
}

std::string Resources::describe_against(const Resources& before) const {
    return "fds " + std::to_string(before.fds) + " -> " + std::to_string(fds) + ", threads " +
           std::to_string(before.threads) + " -> " + std::to_string(threads);
}

size_t heap_in_use() {
#ifdef TIVLINK_SANITIZER_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

double process_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace bus_test
