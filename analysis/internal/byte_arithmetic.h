// |a - b| and min(255, a + b) in bytes: no widening to int, so a vector register holds as many
// pixels as it has bytes. Shared by the edge strength of the edge maps and of focus scores.
#pragma once

#include <cstdint>

inline std::uint8_t AbsoluteDifference(std::uint8_t a, std::uint8_t b) { return a > b ? a - b : b - a; }

inline std::uint8_t SaturatingSum(std::uint8_t a, std::uint8_t b)
{
    const auto sum = static_cast<std::uint8_t>(a + b);
    return sum < a ? 255 : sum;
}
