// The generator behind generated addresses and the firmware-reset byte:
// seeded from the time in seconds, draws of 0..32767, the same sequence on
// every platform.
#pragma once

#include <stdint.h>

void tiv_seed_from_clock(void);
int32_t tiv_random(void);
