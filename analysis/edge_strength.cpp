#include "edge_strength.h"

#include "byte_arithmetic.h"
#include "coverage_rows.h"
#include "exception.h"
#include "vector_clones.h"

#include <cstdint>
#include <vector>

namespace {

// Rewrites one row in place from itself and the unchanged row below it (nullptr for the
// last row, whose missing neighbours count as equal). Each pixel reads only itself and
// bytes not yet rewritten, so no copy of the row is needed.
EDGEDOM_VECTOR_CLONES void EdgeRow(std::uint8_t *row, const std::uint8_t *below, int width)
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

void ClearUncoveredEdges(TBitmap &edgeMap, const TBitmap &coverage)
{
    const int width = edgeMap.Width(), height = edgeMap.Height();
    if (edgeMap.PixelFormat() != pf8bit || coverage.PixelFormat() != pf8bit || coverage.Width() != width
        || coverage.Height() != height)
        throw Exception("An edge strength map and its picture's coverage must be 8-bit and of one size.");
    std::vector<std::uint8_t> covered(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *mask = coverage.ScanLine(y);
        CoveredNeighbourhood(y > 0 ? coverage.ScanLine(y - 1) : mask, mask,
                             y + 1 < height ? coverage.ScanLine(y + 1) : mask, covered.data(), width);
        std::uint8_t *edges = edgeMap.ScanLine(y);
        // Each edge within one pixel of an uncovered pixel becomes 0.
        for (int x = 0; x < width; ++x)
            edges[x] &= covered[x];
    }
}
