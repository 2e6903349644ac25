// Where a moved picture's coverage ends, its resampled pixels meet pixels filled in from
// elsewhere, and the step between them is no edge of the scene: the pixels next to an uncovered
// one are left out of every comparison of edges.
#pragma once

#include <cstdint>

// covered[x] = 255 when the 3 x 3 pixels around x are all covered (nonzero), else 0; pixels
// outside the picture count as covered:
//     above[x - 1] above[x] above[x + 1]
//     row[x - 1]   row[x]   row[x + 1]
//     below[x - 1] below[x] below[x + 1]
inline void CoveredNeighbourhood(const std::uint8_t *above, const std::uint8_t *row, const std::uint8_t *below,
                          std::uint8_t *covered, int width)
{
    // Each column gets 255 when its three pixels are covered.
    for (int x = 0; x < width; ++x)
        covered[x] = above[x] != 0 && row[x] != 0 && below[x] != 0 ? 255 : 0;
    // Each pixel gets its own column and the columns either side of it together.
    std::uint8_t left = 255;
    for (int x = 0; x < width; ++x) {
        const std::uint8_t centre = covered[x], right = x + 1 < width ? covered[x + 1] : 255;
        covered[x] = left & centre & right;
        left = centre;
    }
}
