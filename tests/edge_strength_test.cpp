#include "edge_strength.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

namespace {

Table EdgeMapOf(TBitmap bitmap)
{
    ComputeEdgeStrengthMap(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
    return TableOf(bitmap);
}

} // namespace

TEST(EdgeStrength, SmallPicturesGiveTheirMaps)
{
    const std::vector<std::pair<Table, Table>> cases = {
        // |10-20| + |10-40|, |20-0| (no right-hand neighbour); |40-0| (none below), 0.
        {{{10, 20}, {40, 0}}, {{40, 20}, {40, 0}}},
        {{{1, 5, 2}, {7, 7, 9}, {0, 3, 3}}, {{4 + 6, 3 + 2, 7}, {0 + 7, 2 + 4, 6}, {3, 0, 0}}},
        // 510 and 256 saturate instead of wrapping; 0 beside 255 is as strong as 255 beside 0.
        {{{255, 0}, {0, 0}}, {{255, 0}, {0, 0}}},
        {{{0, 128}, {128, 0}}, {{255, 128}, {128, 0}}},
        {{{0, 255}, {0, 0}}, {{255, 255}, {0, 0}}},
        {Table(4, std::vector<int>(5, 200)), Table(4, std::vector<int>(5, 0))},
        {{{3, 10, 4}}, {{7, 6, 0}}},
        {{{3}, {10}, {4}}, {{7}, {6}, {0}}},
        {{{9}}, {{0}}},
        {{}, {}},
        {Table(5), Table(5)}, // 0 x 5: rows without pixels, whose address may be null
    };
    for (const auto &[picture, expected] : cases)
        EXPECT_EQ(EdgeMapOf(GreyBitmap(picture)), expected) << ::testing::PrintToString(picture);
}

// Edges next to where a moved picture does not cover the scene are no edges of it.
TEST(EdgeStrength, EdgesWithinOnePixelOfUncoveredPixelsAreCleared)
{
    TBitmap edges = GreyBitmap({{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}});
    ClearUncoveredEdges(edges, GreyBitmap({{0, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 0}}));
    EXPECT_EQ(TableOf(edges), (Table{{0, 0, 9, 9}, {0, 0, 0, 0}, {9, 9, 0, 0}}));
}
