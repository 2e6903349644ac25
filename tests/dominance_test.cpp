#include "dominance.h"
#include "exception.h"
#include "reference_rules.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <random>

namespace {

Table DominanceOf(const TBitmap &first, const TBitmap &second, const TBitmap &third)
{
    const TBitmap map = ComputeDominanceMap(first, second, third);
    EXPECT_EQ(map.PixelFormat(), pf24bit);
    EXPECT_TRUE(AllBytesEqual(map));
    return TableOf(map);
}

} // namespace

TEST(Dominance, ClassOfTheStrictlyLargestMapTiesCarryingTheClassBefore)
{
    struct Case {
        Table first, second, third, expected;
    };
    const std::vector<Case> cases = {
        {{{200, 100, 50, 90}}, {{100, 200, 100, 10}}, {{50, 50, 200, 10}}, {{1, 2, 3, 1}}},
        // Ties at the largest value (80, 80, 10) and (7, 7, 7); row 1 begins with a tie.
        {{{5, 80, 7}, {1, 1, 9}}, {{6, 80, 7}, {1, 0, 9}}, {{0, 10, 7}, {0, 2, 1}}, {{2, 2, 2}, {2, 3, 3}}},
        // Ties before any strict pixel have no class.
        {{{4, 4, 1}}, {{4, 4, 0}}, {{4, 0, 0}}, {{0, 0, 1}}},
        // Larger second and third maps are compared on their top-left part.
        {{{1, 1}, {1, 9}}, {{2, 2, 200}, {0, 0, 200}, {200, 200, 200}}, Table(3, {0, 0, 0}), {{2, 2}, {1, 1}}},
        {{}, {}, {}, {}},
        {Table(5), Table(5), Table(5), Table(5)}, // 0 x 5: rows without pixels, whose address may be null
    };
    for (const Case &c : cases)
        EXPECT_EQ(DominanceOf(GreyBitmap(c.first), GreyBitmap(c.second), GreyBitmap(c.third)), c.expected)
            << ::testing::PrintToString(c.first);
}

TEST(Dominance, NarrowerOrShorterSourceIsRefusedNamingBothSizes)
{
    const TBitmap first = GreyBitmap({{1, 2, 3}, {4, 5, 6}});
    try {
        ComputeDominanceMap(first, first, GreyBitmap({{1, 2}, {3, 4}}));
        ADD_FAILURE() << "a narrower third picture was accepted";
    } catch (const Exception &error) {
        EXPECT_NE(error.Message().find("third picture (2 x 2 pixels) is smaller than the first (3 x 2 pixels)"),
                  std::string::npos)
            << error.Message();
    }
    EXPECT_THROW(ComputeDominanceMap(first, GreyBitmap({{1, 2, 3}}), first), Exception);
    EXPECT_THROW(ComputeDominanceMap(first, TBitmap(), first), Exception);
}

TEST(Dominance, VectorisedTieCarryingEqualsThePlainScan)
{
    // Widths around the 16-pixel blocks; mostly ties, long runs of them included, and each
    // running class coming in.
    std::mt19937 random(11);
    for (int width = 0; width <= 40; ++width)
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<std::uint8_t> strict(static_cast<std::size_t>(width));
            for (std::uint8_t &value : strict)
                value = random() % (trial % 2 ? 4 : 40) == 0 ? static_cast<std::uint8_t>(1 + random() % 3) : 0;
            std::vector<std::uint8_t> plain = strict;
            const auto running = static_cast<std::uint8_t>(trial % 4);
            const std::uint8_t vectorOut = CarryClassesOverTies(strict.data(), width, running);
            const std::uint8_t plainOut = CarryClassesOverTiesPlain(plain.data(), width, running);
            ASSERT_EQ(strict, plain) << "width " << width << ", trial " << trial;
            ASSERT_EQ(vectorOut, plainOut) << "width " << width << ", trial " << trial;
        }
}

TEST(DominanceFold, FoldOfAnyNumberOfMapsFollowsTheRuleAndEqualsTheThreeMapForm)
{
    // Small value ranges make ties common; widths around the 16-pixel blocks of the tie carrying.
    std::mt19937 random(17);
    for (int width : {0, 1, 15, 16, 17, 33})
        for (int height : {1, 3})
            for (int mapCount = 1; mapCount <= 5; ++mapCount)
                for (int range : {2, 4, 256}) {
                    std::vector<Table> maps(static_cast<std::size_t>(mapCount), Table(height, std::vector<int>(width)));
                    for (Table &map : maps)
                        for (auto &row : map)
                            for (int &value : row)
                                value = static_cast<int>(random() % range);
                    DominanceFold fold(width, height);
                    for (const Table &map : maps)
                        fold.Add(GreyBitmap(map));
                    const TBitmap folded = fold.Result();
                    ASSERT_TRUE(AllBytesEqual(folded));
                    ASSERT_EQ(TableOf(folded), ReferenceDominance(maps)) << width << " x " << height << ", " << mapCount;
                    if (mapCount == 3) {
                        ASSERT_EQ(Bytes(folded),
                                  Bytes(ComputeDominanceMap(GreyBitmap(maps[0]), GreyBitmap(maps[1]), GreyBitmap(maps[2]))));
                    }
                }
}

// Map 2 covers columns 2 and 3 only: the tie at the start of row 1 must not carry its class
// from the end of row 0 into pixels it does not cover; they take class 1 instead.
TEST(DominanceFold, TiesNeverCarryAClassWhereItsPictureDoesNotCover)
{
    DominanceFold fold(4, 2);
    fold.Add(GreyBitmap({{0, 0, 0, 0}, {0, 0, 0, 0}}));
    const TBitmap coverage = GreyBitmap({{0, 0, 255, 255}, {0, 0, 255, 255}});
    fold.Add(GreyBitmap({{0, 0, 0, 5}, {0, 0, 0, 0}}), &coverage);
    EXPECT_EQ(TableOf(fold.Result()), (Table{{0, 0, 0, 2}, {1, 1, 1, 1}}));
}

TEST(DominanceFold, MapsThatDoNotFitAreRefused)
{
    DominanceFold fold(3, 2);
    EXPECT_THROW(fold.Result(), Exception);
    EXPECT_THROW(fold.Add(GreyBitmap({{1, 2}, {3, 4}})), Exception);
    EXPECT_THROW(fold.Add(GreyPixels24({{1, 2, 3}, {3, 4, 5}})), Exception);
    EXPECT_EQ(fold.MapCount(), 0);
}
