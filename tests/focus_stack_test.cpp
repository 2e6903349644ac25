#include "exception.h"
#include "focus_stack.h"
#include "reference_rules.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// The fused picture of the shots, and with sources its source map.
Channels Fused(const std::vector<Channels> &shots, const std::vector<Table> &coverage = {}, bool sixteenBits = false,
               Table *sources = nullptr)
{
    const TBitmap first = ChannelBitmap(shots[0], sixteenBits);
    FocusStack stack(first.Width(), first.Height(), first.PixelFormat());
    for (std::size_t i = 0; i < shots.size(); ++i) {
        const TBitmap mask = coverage.empty() ? TBitmap() : GreyBitmap(coverage[i]);
        stack.Add(ChannelBitmap(shots[i], sixteenBits), coverage.empty() ? nullptr : &mask);
    }
    TBitmap sourceMap;
    const TBitmap fused = stack.Result(sources != nullptr ? &sourceMap : nullptr);
    EXPECT_EQ(fused.PixelFormat(), first.PixelFormat());
    if (sources != nullptr)
        *sources = TableOf(sourceMap);
    return ChannelTables(fused);
}

// Each 4 x 4 block of a shot has its own contrast, from flat to strong, around mid-grey; with
// sixteenBits, each value v becomes a 16-bit one that rounds back to v, in any of the 257 ways.
Channels RandomShot(std::mt19937 &random, int w, int h, int channelCount, bool sixteenBits = false)
{
    Channels shot(static_cast<std::size_t>(channelCount), Table(h, std::vector<int>(w)));
    std::vector<int> contrast(static_cast<std::size_t>((w / 4 + 1) * (h / 4 + 1)));
    for (int &c : contrast)
        c = std::vector<int>{0, 1, 4, 30, 127}[random() % 5];
    for (Table &channel : shot)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int c = contrast[(y / 4) * (w / 4 + 1) + x / 4];
                channel[y][x] = 128 + static_cast<int>(random() % (2 * c + 1)) - c;
                if (sixteenBits)
                    channel[y][x] = std::clamp(channel[y][x] * 257 + static_cast<int>(random() % 257) - 128, 0, 65535);
            }
    return shot;
}

Table RandomMask(std::mt19937 &random, int w, int h)
{
    Table mask(h, std::vector<int>(w));
    const int edge = static_cast<int>(random() % (w + 1));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            mask[y][x] = x >= edge || random() % 50 == 0 ? 0 : 255;
    return mask;
}

double SquaredError(const Channels &a, const Channels &b)
{
    double sum = 0;
    for (std::size_t c = 0; c < a.size(); ++c)
        for (std::size_t y = 0; y < a[c].size(); ++y)
            for (std::size_t x = 0; x < a[c][y].size(); ++x)
                sum += (a[c][y][x] - b[c][y][x]) * (a[c][y][x] - b[c][y][x]);
    return sum;
}

} // namespace

TEST(FocusStack, MatchesTheReferenceFoldOnRandomStacks)
{
    std::mt19937 random(7);
    const std::vector<std::pair<int, int>> sizes{{1, 1}, {1, 9}, {13, 1}, {2, 3}, {17, 11}, {45, 30}, {64, 44}};
    for (const auto &[w, h] : sizes)
        for (int bits : {8, 24, 48})
            for (int shotCount = 1; shotCount <= 5; ++shotCount)
                for (bool masked : {false, true}) {
                    std::vector<Channels> shots;
                    std::vector<Table> coverage;
                    for (int i = 0; i < shotCount; ++i) {
                        shots.push_back(RandomShot(random, w, h, bits == 8 ? 1 : 3, bits == 48));
                        if (masked)
                            coverage.push_back(RandomMask(random, w, h));
                    }
                    Table sources, referenceSources;
                    ASSERT_EQ(Fused(shots, coverage, bits == 48, &sources),
                              ReferenceFocusStack(shots, coverage, bits == 48, &referenceSources))
                        << w << " x " << h << ", " << bits << " bits, " << shotCount << " shots"
                        << (masked ? ", masked" : "");
                    ASSERT_EQ(sources, referenceSources);
                }
}

TEST(FocusStack, StacksWithNothingToChooseGiveTheirPicture)
{
    std::mt19937 random(3);
    const Channels picture = RandomShot(random, 30, 20, 3), grey = RandomShot(random, 30, 20, 1);
    const Channels flat(3, Table(20, std::vector<int>(30, 77)));
    const std::vector<std::pair<std::vector<Channels>, Channels>> cases = {
        {{picture}, picture},
        {{picture, picture, picture}, picture},
        {{grey, grey}, grey},
        {{flat, flat, flat, flat}, flat},
        {{Channels(3, Table(4))}, Channels(3, Table(4))}, // 0 x 4: rows without pixels
    };
    for (const auto &[shots, expected] : cases)
        EXPECT_EQ(Fused(shots), expected) << shots.size() << " shots";
}

TEST(FocusStack, SharpHalvesOfTwoShotsBeatEveryShot)
{
    // A textured scene; shot 1 is sharp on the left and blurred (3 x 3 mean) on the right,
    // shot 2 the other way round, shot 3 blurred all over.
    std::mt19937 random(5);
    const int w = 64, h = 24;
    const Channels scene = RandomShot(random, w, h, 3);
    Channels blurred = scene;
    for (std::size_t c = 0; c < 3; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int sum = 0;
                const int pixels = ForWindow(y, x, 1, h, w, [&](int v, int u) { sum += scene[c][v][u]; });
                blurred[c][y][x] = (sum + pixels / 2) / pixels;
            }
    std::vector<Channels> shots(3, blurred);
    for (std::size_t c = 0; c < 3; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                shots[x < w / 2 ? 0 : 1][c][y][x] = scene[c][y][x];
    const double fusedError = SquaredError(Fused(shots), scene);
    for (const Channels &shot : shots)
        EXPECT_LT(fusedError * 4, SquaredError(shot, scene)); // at least 6 dB better
}

TEST(FocusStack, UncoveredPixelsAreNeverTaken)
{
    // The second shot has the stronger detail everywhere but covers the left half only: the
    // right half, beyond the feathering, keeps the first shot's pixels.
    std::mt19937 random(9);
    const int w = 40, h = 12;
    Channels weak = RandomShot(random, w, h, 1), strong = weak;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            weak[0][y][x] = 100 + (x + y) % 2, strong[0][y][x] = (x + y) % 2 * 255;
    Table leftHalf(h, std::vector<int>(w, 0));
    for (auto &row : leftHalf)
        std::fill_n(row.begin(), w / 2, 1);
    const Channels fused = Fused({weak, strong}, {Table(h, std::vector<int>(w, 1)), leftHalf});
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(std::vector<int>(fused[0][y].begin(), fused[0][y].begin() + 10),
                  std::vector<int>(strong[0][y].begin(), strong[0][y].begin() + 10));
        EXPECT_EQ(std::vector<int>(fused[0][y].begin() + 26, fused[0][y].end()),
                  std::vector<int>(weak[0][y].begin() + 26, weak[0][y].end()));
    }
}

TEST(FocusStack, ShotsThatDoNotFitAreRefusedBeforeAnythingChanges)
{
    const TBitmap shot = GreyBitmap(PatternTable(6, 4, 1));
    FocusStack stack(6, 4, pf8bit);
    stack.Add(shot);
    const TBitmap narrow = GreyBitmap(PatternTable(5, 4, 1)), colour = GreyPixels24(PatternTable(6, 4, 1));
    for (const auto &[bad, mask] : std::vector<std::pair<const TBitmap *, const TBitmap *>>{
             {&narrow, nullptr}, {&colour, nullptr}, {&shot, &colour}, {&shot, &narrow}})
        EXPECT_THROW(stack.Add(*bad, mask), Exception);
    EXPECT_EQ(stack.ShotCount(), 1);
    try {
        stack.Add(narrow);
    } catch (const Exception &error) {
        EXPECT_NE(error.Message().find("shot (5 x 4 pixels) is smaller than the stack's first shot (6 x 4 pixels)"),
                  std::string::npos)
            << error.Message();
    }
    for (int i = 1; i < 255; ++i)
        stack.Add(shot);
    EXPECT_THROW(stack.Add(shot), Exception);
    EXPECT_EQ(ChannelTables(stack.Result()), ChannelTables(shot));
    EXPECT_THROW(FocusStack(6, 4, pf8bit).Result(), Exception);
}
