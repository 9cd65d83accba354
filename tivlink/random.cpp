#include "tivlink/random.h"

#include <string.h>
#include <time.h>
#ifdef _WIN32
#include "platform/win32.h"
#else
#include <unistd.h>
#endif

// Host thread only, like every operation that draws.
static uint32_t random_state;
static uint32_t seeded_process;  // 0 until seeded

static uint32_t this_process(void) {
#ifdef _WIN32
    return (uint32_t)GetCurrentProcessId();
#else
    return (uint32_t)getpid();
#endif
}

enum : uint32_t { GENERATED_LIMIT = 0x800000, GENERATED_FLOOR = 0x10000 };
// Every address generated so far, one bit each: a host that numbers its
// devices one after another must never give two of them the same address.
static uint8_t generated[GENERATED_LIMIT / 8];
static uint32_t generated_count;

// Spreads every input bit over the whole word, so seeds that differ in one
// bit start far apart.
static uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    return x ^ (x >> 16);
}

static uint32_t clock_seed(void) {
    uint32_t seconds = (uint32_t)time(nullptr);
#ifdef _WIN32
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    uint32_t fine = (uint32_t)ticks.QuadPart;
#else
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint32_t fine = (uint32_t)now.tv_nsec ^ (uint32_t)now.tv_sec * 1000000007u;
#endif
    return seconds ^ mix(fine) ^ mix(this_process() * 0x9E3779B9u);
}

// Linear congruential step with 15-bit draws.
int32_t tiv_random(void) {
    // A forked child seeds anew, or it would draw what its parent draws.
    uint32_t process = this_process();
    if (seeded_process != process) {
        random_state = clock_seed();
        seeded_process = process;
    }
    random_state = random_state * 214013u + 2531011u;
    return (int32_t)((random_state >> 16) & 0x7FFF);
}

static bool already_generated(uint32_t address) {
    return generated[address / 8] & (1u << (address % 8));
}

int32_t tiv_generate_physical_address(void) {
    // Only a host that has used up the whole range starts over.
    if (generated_count == GENERATED_LIMIT - GENERATED_FLOOR) {
        memset(generated, 0, sizeof generated);
        generated_count = 0;
    }
    uint32_t candidate;
    do {
        uint32_t r1 = (uint32_t)tiv_random();
        uint32_t r2 = (uint32_t)tiv_random();
        candidate = ((r1 * 256) ^ r2) & 0xFFFFFF;
    } while (candidate < GENERATED_FLOOR || already_generated(candidate));
    generated[candidate / 8] |= (uint8_t)(1u << (candidate % 8));
    generated_count++;
    return (int32_t)candidate;
}
