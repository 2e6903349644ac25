#include "dominance.h"
#include "exception.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

namespace {

Table DominanceOf(const Table &first, const Table &second, const Table &third)
{
    const TBitmap map = ComputeDominanceMap(GreyBitmap(first), GreyBitmap(second), GreyBitmap(third));
    EXPECT_EQ(map.PixelFormat(), pf24bit);
    EXPECT_TRUE(AllBytesEqual(map));
    return TableOf(map);
}

} // namespace

TEST(Dominance, StrictlyLargestMapGivesTheClass)
{
    EXPECT_EQ(DominanceOf({{200, 100, 50, 90}}, {{100, 200, 100, 10}}, {{50, 50, 200, 10}}),
              (Table{{1, 2, 3, 1}}));
}

TEST(Dominance, TiesCarryTheRunningClassAcrossRows)
{
    // Ties at the largest value: (80, 80, 10), (7, 7, 7); row 1 begins with a tie.
    EXPECT_EQ(DominanceOf({{5, 80, 7}, {1, 1, 9}},
                          {{6, 80, 7}, {1, 0, 9}},
                          {{0, 10, 7}, {0, 2, 1}}),
              (Table{{2, 2, 2}, {2, 3, 3}}));
}

TEST(Dominance, RunningClassStartsWithNoClass)
{
    EXPECT_EQ(DominanceOf({{4, 4, 1}}, {{4, 4, 0}}, {{4, 0, 0}}), (Table{{0, 0, 1}}));
}

TEST(Dominance, LargerSourcesAreComparedOnTheirTopLeftPart)
{
    const Table first{{1, 1}, {1, 9}};
    const Table larger{{2, 2, 200}, {0, 0, 200}, {200, 200, 200}};
    EXPECT_EQ(DominanceOf(first, larger, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}), (Table{{2, 2}, {1, 1}}));
}

TEST(Dominance, NarrowerOrShorterSourceIsRefusedBeforeAnythingIsRead)
{
    const TBitmap first = GreyBitmap({{1, 2, 3}, {4, 5, 6}});
    const TBitmap narrow = GreyBitmap({{1, 2}, {3, 4}});
    const TBitmap shortOne = GreyBitmap({{1, 2, 3}});
    try {
        ComputeDominanceMap(first, first, narrow);
        FAIL() << "a narrower third picture was accepted";
    } catch (const Exception &error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("third"), std::string::npos) << message;
        EXPECT_NE(message.find("2 x 2"), std::string::npos) << message;
        EXPECT_NE(message.find("3 x 2"), std::string::npos) << message;
    }
    EXPECT_THROW(ComputeDominanceMap(first, shortOne, first), Exception);
    EXPECT_THROW(ComputeDominanceMap(first, TBitmap(), first), Exception);
}

TEST(Dominance, EmptyFirstGivesAnEmptyMap)
{
    const TBitmap map = ComputeDominanceMap(TBitmap(), TBitmap(), TBitmap());
    EXPECT_EQ(map.Width(), 0);
    EXPECT_EQ(map.Height(), 0);
    EXPECT_EQ(map.PixelFormat(), pf24bit);
}

TEST(Dominance, ColourSourcesAreComparedOnTheirGreyBytesAndLeftUnchanged)
{
    TBitmap red = GreyPixels24({{0}});
    red.ScanLine(0)[2] = 255; // grey 76
    const TBitmap grey75 = GreyBitmap({{75}});
    const TBitmap grey77 = GreyBitmap({{77}});
    EXPECT_EQ(TableOf(ComputeDominanceMap(red, grey75, grey75)), (Table{{1}}));
    EXPECT_EQ(TableOf(ComputeDominanceMap(red, grey77, grey75)), (Table{{2}}));
    EXPECT_EQ(red.PixelFormat(), pf24bit);
    EXPECT_EQ(red.ScanLine(0)[2], 255);
}

TEST(Dominance, MatchesAPixelByPixelScanOnRandomMaps)
{
    // Widths around the 16-pixel blocks in which ties are filled; small values make ties
    // common, long runs of them included.
    std::srand(11);
    for (int width : {1, 2, 15, 16, 17, 31, 32, 33, 100}) {
        Table maps[3];
        for (Table &map : maps) {
            map.assign(4, std::vector<int>(static_cast<std::size_t>(width)));
            for (auto &row : map)
                for (int &value : row)
                    value = std::rand() % 5 == 0 ? std::rand() % 3 : 0;
        }
        Table expected = maps[0];
        int running = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < width; ++x) {
                const int a = maps[0][y][x], b = maps[1][y][x], c = maps[2][y][x];
                running = a > b && a > c ? 1 : b > a && b > c ? 2 : c > a && c > b ? 3 : running;
                expected[y][x] = running;
            }
        EXPECT_EQ(DominanceOf(maps[0], maps[1], maps[2]), expected) << "width " << width;
    }
}
