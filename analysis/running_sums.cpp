#include "running_sums.h"

#include "vector_clones.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

using Lanes = std::uint32_t __attribute__((vector_size(32)));

} // namespace

// In a block of eight, three steps add each lane to the lanes 1, 2 and 4 places on, so that
// each holds the sum of the block up to it; the sum before the block, kept in a vector, is
// then added to all. Only that one addition per block waits for the block before. The values after the last whole
// block go through the plain loop.
EDGEDOM_VECTOR_CLONES std::uint32_t RunningSums(const std::uint32_t *values, int shift, std::uint32_t *sums, int n,
                                                std::uint32_t start)
{
    int i = 0;
    Lanes before = Lanes{} + start; // the sum before the block, in every lane
    for (; i + 8 <= n; i += 8) {
        Lanes v;
        std::memcpy(&v, values + i, sizeof v);
        v >>= static_cast<std::uint32_t>(shift);
        // Each lane gains the lane 1, then 2, then 4 places before it (0 before the block). Written
        // out rather than in a helper: a 32-byte vector passed to or returned from a function
        // travels differently with AVX and without, and RunningSums is compiled both ways.
        v += __builtin_shufflevector(Lanes{}, v, 7, 8, 9, 10, 11, 12, 13, 14);
        v += __builtin_shufflevector(Lanes{}, v, 6, 7, 8, 9, 10, 11, 12, 13);
        v += __builtin_shufflevector(Lanes{}, v, 4, 5, 6, 7, 8, 9, 10, 11);
        v += before;
        std::memcpy(sums + i, &v, sizeof v);
        before = __builtin_shufflevector(v, v, 7, 7, 7, 7, 7, 7, 7, 7);
    }
    start = before[0];
    // Each remaining value adds to the sum before it.
    for (; i < n; ++i) {
        start += values[i] >> shift;
        sums[i] = start;
    }
    return start;
}

void PaddedRunningSums(const std::uint32_t *values, int shift, std::uint32_t *sums, int width, int radius)
{
    std::fill_n(sums, radius + 1, 0u);
    const std::uint32_t total = RunningSums(values, shift, sums + radius + 1, width, 0);
    std::fill_n(sums + radius + 1 + width, radius, total);
}
