#include "png_filters.h"

#include "vector_clones.h"

#include <cstdlib>
#include <cstring>

namespace {

// Each pixel's red, green, blue bytes from its blue, green, red ones.
EDGEDOM_VECTOR_CLONES void RgbFromBgr(const std::uint8_t *__restrict from, std::uint8_t *__restrict to, int width)
{
    for (int x = 0; x < width; ++x) {
        to[3 * x] = from[3 * x + 2];
        to[3 * x + 1] = from[3 * x + 1];
        to[3 * x + 2] = from[3 * x];
    }
}

// Each pixel's red, green, blue channels, high byte first, from its native 16-bit blue,
// green, red ones.
EDGEDOM_VECTOR_CLONES void BigEndianRgbFromBgr48(const std::uint8_t *__restrict from, std::uint8_t *__restrict to,
                                                 int width)
{
    const auto *channels = reinterpret_cast<const std::uint16_t *>(from);
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) {
            const std::uint16_t value = channels[3 * x + 2 - c];
            to[6 * x + 2 * c] = static_cast<std::uint8_t>(value >> 8);
            to[6 * x + 2 * c + 1] = static_cast<std::uint8_t>(value);
        }
}

// Sub: each byte less the byte a pixel to its left (0 left of the row).
EDGEDOM_VECTOR_CLONES void SubRow(const std::uint8_t *__restrict row, std::uint8_t *__restrict out, std::size_t bytes,
                                  std::size_t bpp)
{
    std::memcpy(out, row, bpp);
    for (std::size_t i = bpp; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
}

// Up: each byte less the byte above it.
EDGEDOM_VECTOR_CLONES void UpRow(const std::uint8_t *__restrict row, const std::uint8_t *__restrict above,
                                 std::uint8_t *__restrict out, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
}

// Average: each byte less the mean, rounded down, of the bytes left of it and above it.
EDGEDOM_VECTOR_CLONES void AverageRow(const std::uint8_t *__restrict row, const std::uint8_t *__restrict above,
                                      std::uint8_t *__restrict out, std::size_t bytes, std::size_t bpp)
{
    for (std::size_t i = 0; i < bpp; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - (above[i] >> 1));
    for (std::size_t i = bpp; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - ((row[i - bpp] + above[i]) >> 1));
}

// Paeth: each byte less whichever of left (a), above (b) and above-left (c) is nearest to
// a + b - c, preferring a, then b, on ties:
//   c b
//   a x
EDGEDOM_VECTOR_CLONES void PaethRow(const std::uint8_t *__restrict row, const std::uint8_t *__restrict above,
                                    std::uint8_t *__restrict out, std::size_t bytes, std::size_t bpp)
{
    for (std::size_t i = 0; i < bpp; ++i) // left and above-left are 0: the prediction is b
        out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
    for (std::size_t i = bpp; i < bytes; ++i) {
        const int a = row[i - bpp], b = above[i], c = above[i - bpp];
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        out[i] = static_cast<std::uint8_t>(row[i] - predicted);
    }
}

EDGEDOM_VECTOR_CLONES std::uint64_t SignedByteSum(const std::uint8_t *filtered, std::size_t bytes)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        sum += static_cast<std::uint32_t>(std::abs(static_cast<int>(static_cast<std::int8_t>(filtered[i]))));
    return sum;
}

} // namespace

void PngSamplesRow(const std::uint8_t *__restrict from, std::uint8_t *__restrict to, int width, TPixelFormat format)
{
    if (format == pf8bit)
        std::memcpy(to, from, static_cast<std::size_t>(width));
    else if (format == pf24bit)
        RgbFromBgr(from, to, width);
    else
        BigEndianRgbFromBgr48(from, to, width);
}

void FilterRow(PngFilter filter, const std::uint8_t *__restrict row, const std::uint8_t *__restrict above,
               std::uint8_t *__restrict out, std::size_t bytes, int bytesPerPixel)
{
    const auto bpp = static_cast<std::size_t>(bytesPerPixel);
    switch (filter) {
    case PngFilter::None:
        std::memcpy(out, row, bytes);
        return;
    case PngFilter::Sub:
        return SubRow(row, out, bytes, bpp);
    case PngFilter::Up:
        return UpRow(row, above, out, bytes);
    case PngFilter::Average:
        return AverageRow(row, above, out, bytes, bpp);
    case PngFilter::Paeth:
        return PaethRow(row, above, out, bytes, bpp);
    }
}

std::uint64_t FilteredRowCost(const std::uint8_t *filtered, std::size_t bytes) { return SignedByteSum(filtered, bytes); }
