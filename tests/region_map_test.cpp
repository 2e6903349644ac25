#include "exception.h"
#include "reference_rules.h"
#include "region_map.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Messages = std::vector<std::string>;

Messages Counts(int afterClass1, int afterClass2, int afterClass3)
{
    return {"We get max =" + std::to_string(afterClass1), "We get max =" + std::to_string(afterClass2),
            "We get max =" + std::to_string(afterClass3)};
}

// The region map of dominance, painted over an earlier region map of another size, and
// the messages shown on the way.
Table RegionMapOf(TBitmap dominance, Messages *messages = nullptr, int classCount = 3)
{
    TBitmap regions = GreyPixels24({{9, 9, 9}, {9, 9, 9}});
    ComputeRegionMap(
        dominance, regions,
        [&](const std::string &text) {
            if (messages != nullptr)
                messages->push_back(text);
        },
        {}, classCount);
    EXPECT_EQ(regions.PixelFormat(), pf24bit);
    EXPECT_EQ(regions.Width(), dominance.Width());
    EXPECT_EQ(regions.Height(), dominance.Height());
    EXPECT_TRUE(AllBytesEqual(regions));
    return TableOf(regions);
}

Table Filled(int w, int h, int value)
{
    return Table(static_cast<std::size_t>(h), std::vector<int>(static_cast<std::size_t>(w), value));
}

// A class map whose pixels repeat their left or upper neighbour's class with the given
// probability, so that region sizes range from specks to large areas.
Table RandomClasses(std::mt19937 &random, int w, int h, double repeat, int classesUsed)
{
    Table classes = Filled(w, h, 0);
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

} // namespace

TEST(RegionMap, SmallMapsGiveTheirRegionsAndRunningCounts)
{
    struct Case {
        Table classes, expected;
        Messages messages;
    };
    const std::vector<Case> cases = {
        {{{0, 0, 0, 0}, {0, 1, 1, 0}, {0, 1, 1, 0}, {0, 0, 0, 0}},
         {{0, 0, 0, 0}, {0, 50, 50, 0}, {0, 50, 50, 0}, {0, 0, 0, 0}},
         Counts(4, 4, 4)},
        {{{1, 1, 3}, {1, 1, 3}, {3, 3, 3}}, {{50, 50, 150}, {50, 50, 150}, {150, 150, 150}}, Counts(4, 4, 9)},
        // Bytes that are no class (0, 4, 255) are never painted nor counted.
        {{{0, 4, 255}, {1, 2, 3}}, {{0, 0, 0}, {50, 100, 150}}, Counts(1, 2, 3)},
        {{{2}}, {{100}}, Counts(0, 1, 1)},
        {{}, {}, Counts(0, 0, 0)},
        {Table(5), Table(5), Counts(0, 0, 0)}, // 0 x 5: rows without pixels, whose address may be null
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.classes));
        Messages messages;
        EXPECT_EQ(RegionMapOf(GreyPixels24(c.classes), &messages), c.expected);
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(RegionMapOf(GreyBitmap(c.classes)), c.expected) << "from an 8-bit dominance map";
    }
}

TEST(RegionMap, ClassCountSaysWhichBytesAreClasses)
{
    struct Case {
        int classCount;
        Table classes, expected;
        Messages messages;
    };
    const std::vector<Case> cases = {
        {2, {{1, 2, 3}, {0, 2, 5}}, {{50, 100, 0}, {0, 100, 0}}, {"We get max =1", "We get max =3"}},
        {5, {{1, 2, 3}, {4, 5, 6}}, {{50, 100, 150}, {200, 250, 0}},
         {"We get max =1", "We get max =2", "We get max =3", "We get max =4", "We get max =5"}},
    };
    for (const Case &c : cases) {
        Messages messages;
        EXPECT_EQ(RegionMapOf(GreyPixels24(c.classes), &messages, c.classCount), c.expected) << c.classCount;
        EXPECT_EQ(messages, c.messages);
    }
    for (int classCount : {1, 6}) {
        TBitmap dominance = GreyPixels24({{1}}), regions;
        EXPECT_THROW(ComputeRegionMap(dominance, regions, [](const std::string &) {}, {}, classCount), Exception);
    }
}

TEST(RegionMap, RegionOfAFortiethOfTheLargestIsKept)
{
    // A region of 1,000 pixels gives 25: one of 25 pixels stays, one of 24 drops out.
    Table classes = Filled(60, 30, 0);
    for (int y = 0; y < 25; ++y)
        std::fill_n(classes[y].begin(), 40, 1);
    std::fill_n(classes[27].begin(), 25, 1);
    std::fill_n(classes[29].begin(), 24, 1);
    const Table map = RegionMapOf(GreyPixels24(classes));
    EXPECT_EQ(map[0][0], 50);
    EXPECT_EQ(map[27][0], 50);
    EXPECT_EQ(map[29][0], 0);
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

TEST(RegionMap, MatchesTheFloodFillReferenceOnRandomMaps)
{
    std::mt19937 random(2024);
    const std::vector<std::pair<int, int>> sizes{{1, 1}, {1, 37}, {41, 1}, {2, 2}, {3, 3}, {7, 5},
                                                 {33, 17}, {64, 64}, {101, 99}, {250, 13}};
    for (const auto &[w, h] : sizes)
        for (double repeat : {0.0, 0.6, 0.9, 0.99})
            for (int classesUsed : {1, 3, 4, 6}) {
                const Table classes = RandomClasses(random, w, h, repeat, classesUsed);
                const int classCount = std::max(2, classesUsed - 1);
                ASSERT_EQ(RegionMapOf(GreyPixels24(classes), nullptr, classCount), ReferenceRegionMap(classes, classCount))
                    << w << " x " << h << ", repeat " << repeat << ", classes 0.." << classesUsed;
            }
    for (int value : {0, 1, 3})
        EXPECT_EQ(RegionMapOf(GreyPixels24(Filled(31, 29, value))), ReferenceRegionMap(Filled(31, 29, value)));
}

TEST(RegionMap, WindingRegionMatchesTheReference)
{
    // A one-pixel-wide path spirals through the map: a sweep-until-stable labeller needs a
    // sweep per turn here, union-find one scan.
    const int n = 41;
    Table classes = Filled(n, n, 0);
    int top = 0, left = 0, bottom = n - 1, right = n - 1;
    while (top <= bottom && left <= right) {
        for (int x = left; x <= right; ++x) classes[top][x] = classes[bottom][x] = 2;
        for (int y = top; y <= bottom; ++y) classes[y][right] = 2;
        for (int y = top + 2; y <= bottom; ++y) classes[y][left] = 2;
        if (left + 2 <= right - 2) classes[top + 2][left + 1] = 2;
        top += 2, left += 2, bottom -= 2, right -= 2;
    }
    EXPECT_EQ(RegionMapOf(GreyPixels24(classes)), ReferenceRegionMap(classes));
}
