// Running sums of a row of 32-bit values, eight lanes at a time: the focus scores' window sums
// and the seam feathering's window counts are differences of two running sums.
#pragma once

#include <cstdint>

// sums[i] = start + the sum of values[j] >> shift over j <= i, modulo 2^32, for 0 <= i < n;
// returns the last sum (start when n is 0). values and sums may be the same row.
std::uint32_t RunningSums(const std::uint32_t *values, int shift, std::uint32_t *sums, int n, std::uint32_t start);

// sums[k] = the sum of values[i] >> shift over 0 <= i < clamp(k - radius, 0, width), for
// k = 0 .. width + 2 radius, so that sums[x + 2 radius + 1] - sums[x] is the sum over the window
// of radius around x clipped to the row, modulo 2^32.
void PaddedRunningSums(const std::uint32_t *values, int shift, std::uint32_t *sums, int width, int radius);
