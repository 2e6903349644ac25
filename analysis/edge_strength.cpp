#include "edge_strength.h"

#include <cstdint>

namespace {

// |a - b| and min(255, a + b) in bytes: no widening to int, so a vector register holds as
// many pixels as it has bytes.
std::uint8_t AbsoluteDifference(std::uint8_t a, std::uint8_t b) { return a > b ? a - b : b - a; }

std::uint8_t SaturatingSum(std::uint8_t a, std::uint8_t b)
{
    const auto sum = static_cast<std::uint8_t>(a + b);
    return sum < a ? 255 : sum;
}

// Rewrites one row in place from itself and the unchanged row below it (nullptr for the
// last row, whose missing neighbours count as equal). Each pixel reads only itself and
// bytes not yet rewritten, so no copy of the row is needed.
void EdgeRow(std::uint8_t *row, const std::uint8_t *below, int width)
{
    const int last = width - 1;
    if (below != nullptr) {
        // row[x] = min(255, |p - right| + |p - below|)
        for (int x = 0; x < last; ++x)
            row[x] = SaturatingSum(AbsoluteDifference(row[x], row[x + 1]), AbsoluteDifference(row[x], below[x]));
        row[last] = AbsoluteDifference(row[last], below[last]);
    } else {
        // row[x] = |p - right|
        for (int x = 0; x < last; ++x)
            row[x] = AbsoluteDifference(row[x], row[x + 1]);
        row[last] = 0;
    }
}

} // namespace

void ComputeEdgeStrengthMap(TBitmap &bitmap)
{
    bitmap.SetPixelFormat(pf8bit);
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (width == 0)
        return;
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = bitmap.ScanLine(y);
        const std::uint8_t *below = y + 1 < height ? bitmap.ScanLine(y + 1) : nullptr;
        EdgeRow(row, below, width);
    }
}
