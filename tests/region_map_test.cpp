#include "exception.h"
#include "reference_region_map.h"
#include "region_map.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct RegionResult {
    Table map;
    std::vector<std::string> messages;
};

RegionResult RegionMapOf(const Table &classes)
{
    TBitmap dominance = GreyPixels24(classes);
    TBitmap regions;
    RegionResult result;
    ComputeRegionMap(dominance, regions, [&](const std::string &text) { result.messages.push_back(text); });
    EXPECT_EQ(regions.PixelFormat(), pf24bit);
    EXPECT_EQ(regions.Width(), dominance.Width());
    EXPECT_EQ(regions.Height(), dominance.Height());
    EXPECT_TRUE(AllBytesEqual(regions));
    result.map = TableOf(regions);
    return result;
}

// A class map of the given size whose pixels repeat their left or upper neighbour's class
// with the given probability, so that region sizes range from specks to large areas.
Table RandomClasses(std::mt19937 &random, int w, int h, double repeat, int classesUsed)
{
    Table classes(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w)));
    std::uniform_real_distribution<double> chance(0, 1);
    std::uniform_int_distribution<int> anyClass(0, classesUsed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool repeatLeft = chance(random) < 0.5;
            if (chance(random) < repeat && (x > 0 || y > 0))
                classes[y][x] = (repeatLeft && x > 0) || y == 0 ? classes[y][x - 1] : classes[y - 1][x];
            else
                classes[y][x] = anyClass(random);
        }
    return classes;
}

Table Filled(int w, int h, int value)
{
    return Table(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), value));
}

} // namespace

TEST(RegionMap, BlockInANoClassFrame)
{
    Table classes = Filled(5, 5, 0);
    for (int y = 1; y <= 3; ++y)
        for (int x = 1; x <= 3; ++x)
            classes[y][x] = 1;
    const RegionResult result = RegionMapOf(classes);
    EXPECT_EQ(result.map, (Table{{0, 0, 0, 0, 0},
                                 {0, 50, 50, 50, 0},
                                 {0, 50, 50, 50, 0},
                                 {0, 50, 50, 50, 0},
                                 {0, 0, 0, 0, 0}}));
    EXPECT_EQ(result.messages, (std::vector<std::string>{"We get max =9", "We get max =9", "We get max =9"}));
}

TEST(RegionMap, MessagesCountAllClassesSoFar)
{
    Table classes = Filled(5, 3, 1);
    classes[2] = {3, 3, 3, 3, 3};
    EXPECT_EQ(RegionMapOf(classes).messages,
              (std::vector<std::string>{"We get max =10", "We get max =10", "We get max =15"}));
    EXPECT_EQ(RegionMapOf({}).messages,
              (std::vector<std::string>{"We get max =0", "We get max =0", "We get max =0"}));
}

TEST(RegionMap, RegionsReachTheBorderWithoutAFrame)
{
    // One class everywhere (400 pixels, more than a byte can number): one region, all painted.
    EXPECT_EQ(RegionMapOf(Filled(20, 20, 2)).map, Filled(20, 20, 100));
    // Two arms joined only along row 0 form one region of 127 pixels; a speck of 2 pixels
    // is below 127 / 40 = 3 and drops out.
    Table classes = Filled(7, 31, 0);
    for (int y = 0; y < 31; ++y)
        classes[y][0] = classes[y][1] = classes[y][5] = classes[y][6] = 3;
    classes[0][2] = classes[0][3] = classes[0][4] = 3;
    Table expected = classes;
    for (auto &row : expected)
        for (int &value : row)
            value = value == 3 ? 150 : 0;
    classes[2][3] = classes[3][3] = 3;
    EXPECT_EQ(RegionMapOf(classes).map, expected);
}

TEST(RegionMap, RegionOfAFortiethOfTheLargestIsKept)
{
    // A region of 1,000 pixels gives T = 25: one of 25 pixels stays, one of 24 drops out.
    Table classes = Filled(60, 30, 0);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 40; ++x)
            classes[y][x] = 1;
    for (int x = 0; x < 25; ++x)
        classes[27][x] = 1;
    for (int x = 0; x < 24; ++x)
        classes[29][x] = 1;
    const Table map = RegionMapOf(classes).map;
    EXPECT_EQ(map[0][0], 50);
    EXPECT_EQ(map[27][0], 50);
    EXPECT_EQ(map[29][0], 0);
}

TEST(RegionMap, DiagonalNeighboursJoinOneRegion)
{
    // Two blocks of 40 touching at a corner form one region of 80 (T = 2), so the lone
    // pixel drops out; were they apart, T would be 1 and it would stay.
    Table classes = Filled(20, 9, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            classes[y][x] = classes[y + 4][x + 10] = 1;
    classes[8][0] = 1;
    const Table map = RegionMapOf(classes).map;
    EXPECT_EQ(map[3][9], 50);
    EXPECT_EQ(map[4][10], 50);
    EXPECT_EQ(map[8][0], 0);
}

TEST(RegionMap, BytesOutsideTheClassesAreNeverPainted)
{
    EXPECT_EQ(RegionMapOf({{0, 4, 255}, {1, 2, 3}}).map, (Table{{0, 0, 0}, {50, 100, 150}}));
}

TEST(RegionMap, RegionMapIsHandedOnAfterEachClass)
{
    TBitmap dominance = GreyPixels24({{1, 2, 3}});
    TBitmap regions;
    std::vector<Table> atMessage, atHandOver;
    ComputeRegionMap(
        dominance, regions, [&](const std::string &) { atMessage.push_back(TableOf(regions)); },
        [&] { atHandOver.push_back(TableOf(regions)); });
    EXPECT_EQ(atMessage, (std::vector<Table>{{{0, 0, 0}}, {{50, 0, 0}}, {{50, 100, 0}}}));
    EXPECT_EQ(atHandOver, (std::vector<Table>{{{50, 0, 0}}, {{50, 100, 0}}, {{50, 100, 150}}}));
}

TEST(RegionMap, EightBitDominanceMapIsReadByItsBytes)
{
    TBitmap dominance = GreyBitmap({{1, 1}, {2, 3}});
    TBitmap regions;
    ComputeRegionMap(dominance, regions, [](const std::string &) {});
    EXPECT_EQ(TableOf(regions), (Table{{50, 50}, {100, 150}}));
}

TEST(RegionMap, PreviousRegionMapIsCleared)
{
    TBitmap dominance = GreyPixels24({{0, 1}});
    TBitmap regions = GreyPixels24({{9, 9, 9}, {9, 9, 9}});
    ComputeRegionMap(dominance, regions, [](const std::string &) {});
    EXPECT_EQ(TableOf(regions), (Table{{0, 50}}));
}

TEST(RegionMap, MatchesFloodFillReferenceOnRandomMaps)
{
    std::mt19937 random(2024);
    const std::vector<std::pair<int, int>> sizes{{1, 1}, {1, 37}, {41, 1}, {2, 2}, {3, 3}, {7, 5},
                                                 {33, 17}, {64, 64}, {101, 99}, {250, 13}};
    for (const auto &[w, h] : sizes)
        for (double repeat : {0.0, 0.6, 0.9, 0.99})
            for (int classesUsed : {1, 3, 4}) {
                const Table classes = RandomClasses(random, w, h, repeat, classesUsed);
                ASSERT_EQ(RegionMapOf(classes).map, ReferenceRegionMap(classes))
                    << w << " x " << h << ", repeat " << repeat << ", classes 0.." << classesUsed;
            }
    for (int value : {0, 1, 3})
        EXPECT_EQ(RegionMapOf(Filled(31, 29, value)).map, ReferenceRegionMap(Filled(31, 29, value)));
}

TEST(RegionMap, WindingRegionMatchesReference)
{
    // A one-pixel-wide path spirals through the map: a sweep-until-stable labeller needs a
    // sweep per turn here, union-find one scan.
    const int n = 41;
    Table classes = Filled(n, n, 0);
    int top = 0, left = 0, bottom = n - 1, right = n - 1;
    while (top <= bottom && left <= right) {
        for (int x = left; x <= right; ++x) classes[top][x] = 2;
        for (int y = top; y <= bottom; ++y) classes[y][right] = 2;
        for (int x = left; x <= right; ++x) classes[bottom][x] = 2;
        for (int y = top + 2; y <= bottom; ++y) classes[y][left] = 2;
        if (left + 2 <= right - 2) classes[top + 2][left + 1] = 2;
        top += 2, left += 2, bottom -= 2, right -= 2;
    }
    EXPECT_EQ(RegionMapOf(classes).map, ReferenceRegionMap(classes));
}
