// The generator behind generated addresses and the firmware-reset byte:
// draws of 0..32767 from a linear congruential step, the same sequence on
// every platform for the same seed. It is seeded once per process from the
// clock in seconds mixed with a finer clock and the process id, so that
// processes started in the same second draw apart.
#pragma once

#include <stdint.h>

int32_t tiv_random(void);

// A physical address in 0x10000..0x7FFFFF that this process has not
// generated before: r1 x 256 xor r2, drawn again until it is at least 0x10000.
int32_t tiv_generate_physical_address(void);
