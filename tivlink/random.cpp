#include <time.h>

#include "tivlink/random.h"

// Host thread only, like every operation that draws.
static uint32_t random_state;

void tiv_seed_from_clock(void) { random_state = (uint32_t)time(nullptr); }

// Linear congruential step with 15-bit draws.
int32_t tiv_random(void) {
    random_state = random_state * 214013u + 2531011u;
    return (int32_t)((random_state >> 16) & 0x7FFF);
}
