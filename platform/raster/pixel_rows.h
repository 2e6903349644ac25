// One byte per pixel spread into a pf24bit row: how a grey level, a class or a painted grey
// becomes a pixel holding the same value in blue, green and red.
#pragma once

#include <cstdint>

// pixels[3x], pixels[3x + 1], pixels[3x + 2] = valueOf(bytes[x]) for 0 <= x < width. The
// rows must not overlap.
template <class ValueOf>
inline void SpreadToThreeBytes(const std::uint8_t *__restrict bytes, std::uint8_t *__restrict pixels, int width,
                               ValueOf valueOf)
{
    for (int x = 0; x < width; ++x) {
        const std::uint8_t value = valueOf(bytes[x]);
        pixels[3 * x] = value;
        pixels[3 * x + 1] = value;
        pixels[3 * x + 2] = value;
    }
}

// The same with each byte's value as it is. Out of line, compiled for AVX2 too, whose byte
// shuffles spread sixteen pixels at once where plain x86-64 has none.
void SpreadToThreeBytes(const std::uint8_t *__restrict bytes, std::uint8_t *__restrict pixels, int width);

// A pf48bit row as a pf24bit one: each 16-bit channel rounded to 8 bits, round(v / 257). The
// rows may lie in the same buffer, the pf24bit row starting at or before the pf48bit one.
void RoundRowTo24(const std::uint8_t *from, std::uint8_t *to, int width);
