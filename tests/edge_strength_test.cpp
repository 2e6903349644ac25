#include "edge_strength.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

namespace {

Table EdgeMapOf(const Table &picture)
{
    TBitmap bitmap = GreyBitmap(picture);
    ComputeEdgeStrengthMap(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
    return TableOf(bitmap);
}

} // namespace

TEST(EdgeStrength, SumsDifferencesToRightAndBelow)
{
    // Top-left: |10-20| + |10-40| = 40; top-right: |20-0| = 20 (no right-hand neighbour);
    // bottom-left: |40-0| = 40 (no neighbour below); bottom-right: 0.
    EXPECT_EQ(EdgeMapOf({{10, 20}, {40, 0}}), (Table{{40, 20}, {40, 0}}));
    EXPECT_EQ(EdgeMapOf({{1, 5, 2},
                         {7, 7, 9},
                         {0, 3, 3}}),
              (Table{{4 + 6, 3 + 2, 7},
                     {0 + 7, 2 + 4, 6},
                     {3, 0, 0}}));
}

TEST(EdgeStrength, StrongEdgesSaturateInsteadOfWrapping)
{
    // 255 beside two 0s sums to 510 and 0 beside two 128s to 256: both are the strongest edge.
    EXPECT_EQ(EdgeMapOf({{255, 0}, {0, 0}})[0][0], 255);
    EXPECT_EQ(EdgeMapOf({{0, 128}, {128, 0}})[0][0], 255);
    // 0 next to 255 is as strong as 255 next to 0: the bytes are unsigned.
    EXPECT_EQ(EdgeMapOf({{0, 255}, {0, 0}})[0][0], 255);
    EXPECT_EQ(EdgeMapOf({{255, 0}, {255, 0}})[0][0], 255);
}

TEST(EdgeStrength, UniformPictureHasNoEdgeAnywhere)
{
    EXPECT_EQ(EdgeMapOf(Table(4, std::vector<int>(5, 200))), Table(4, std::vector<int>(5, 0)));
}

TEST(EdgeStrength, SingleRowOrColumnKeepsItsOneDifference)
{
    EXPECT_EQ(EdgeMapOf({{3, 10, 4}}), (Table{{7, 6, 0}}));
    EXPECT_EQ(EdgeMapOf({{3}, {10}, {4}}), (Table{{7}, {6}, {0}}));
    EXPECT_EQ(EdgeMapOf({{9}}), (Table{{0}}));
    EXPECT_EQ(EdgeMapOf({}), Table{});
}

TEST(EdgeStrength, ColourPictureIsMeasuredOnItsGreyBytes)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(2, 1);
    std::uint8_t *row = bitmap.ScanLine(0);
    row[0] = 0, row[1] = 0, row[2] = 255;   // red: grey 76
    row[3] = 255, row[4] = 0, row[5] = 0;   // blue: grey 29
    ComputeEdgeStrengthMap(bitmap);
    EXPECT_EQ(TableOf(bitmap), (Table{{47, 0}}));
}

TEST(EdgeStrength, MatchesAFreshComputationOnRandomPictures)
{
    // The in-place update must read only bytes that it has not rewritten yet.
    std::srand(7);
    for (int size : {1, 2, 3, 17, 64}) {
        Table picture(static_cast<std::size_t>(size), std::vector<int>(static_cast<std::size_t>(size + 3)));
        for (auto &line : picture)
            for (int &value : line)
                value = std::rand() % 256;
        Table expected = picture;
        const int h = size, w = size + 3;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int p = picture[y][x];
                const int right = x + 1 < w ? picture[y][x + 1] : p;
                const int below = y + 1 < h ? picture[y + 1][x] : p;
                expected[y][x] = std::min(255, std::abs(p - right) + std::abs(p - below));
            }
        EXPECT_EQ(EdgeMapOf(picture), expected) << size;
    }
}
