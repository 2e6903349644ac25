// Brush strokes: the pixels a stroke covers, found row by row, against each pixel measured
// against the path; painting them from a shot in every format, with a moved shot's coverage, a
// segment at a time; and the strokes that cannot be painted.
#include "brush_stroke.h"
#include "exception.h"
#include "reference_rules.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

Table CoverOf(const std::vector<PixelSpan> &spans, int width, int height)
{
    Table cover(static_cast<std::size_t>(height), std::vector<int>(static_cast<std::size_t>(width), 0));
    for (const PixelSpan &span : spans)
        for (int x = span.first; x <= span.last; ++x)
            cover[span.y][x] = 1;
    return cover;
}

// The smallest rectangle holding every 1 of the table.
PixelRect BoxOf(const Table &cover)
{
    PixelRect box{std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), 0, 0};
    for (int y = 0; y < static_cast<int>(cover.size()); ++y)
        for (int x = 0; x < static_cast<int>(cover[y].size()); ++x)
            if (cover[y][x] != 0)
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), y + 1};
    return box.Empty() ? PixelRect{} : box;
}

// Channel tables of a picture's format from one seed: grey, colour, or 16-bit colour.
TBitmap Picture(TPixelFormat format, int width, int height, unsigned seed)
{
    std::vector<Table> channels;
    for (unsigned c = 0; c < (format == pf8bit ? 1u : 3u); ++c) {
        Table channel = PatternTable(width, height, seed + c);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                channel[y][x] = (channel[y][x] + 7 * x + 3 * y) % 256 * (format == pf48bit ? 257 : 1);
        channels.push_back(channel);
    }
    return ChannelBitmap(channels, format == pf48bit);
}

// Each channel of picture where the table is 1 (and shown, when given), the shot's; else its own.
std::vector<Table> Painted(const TBitmap &picture, const TBitmap &shot, const Table &cover, const Table *shown = nullptr)
{
    std::vector<Table> channels = ChannelTables(picture);
    const std::vector<Table> shotChannels = ChannelTables(shot);
    for (std::size_t c = 0; c < channels.size(); ++c)
        for (std::size_t y = 0; y < cover.size(); ++y)
            for (std::size_t x = 0; x < cover[y].size(); ++x)
                if (cover[y][x] != 0 && (shown == nullptr || (*shown)[y][x] != 0))
                    channels[c][y][x] = shotChannels[c][y][x];
    return channels;
}

// The sources after painting with value over sources of 1: value where painted, else 1.
Table Numbers(Table cover, int value, const Table *shown = nullptr)
{
    for (std::size_t y = 0; y < cover.size(); ++y)
        for (std::size_t x = 0; x < cover[y].size(); ++x)
            cover[y][x] = cover[y][x] != 0 && (shown == nullptr || (*shown)[y][x] != 0) ? value : 1;
    return cover;
}

constexpr int Width = 120, Height = 90;

// Strokes of radius 1, 2.5 and 40: one point, several, at the edges and corners, partly and
// wholly outside, along pixel centres (where pixels lie exactly on the edge), and a V whose rows
// hold two runs; then random ones on a quarter-pixel grid.
std::vector<BrushStroke> Strokes()
{
    std::vector<BrushStroke> strokes = {
        {0, 1, {{10.5, 10.5}}},
        {0, 1, {{0, 0}}},
        {0, 2.5, {{60, 45}}},
        {0, 2.5, {{0.5, 0.5}, {119.5, 89.5}}},
        {0, 2.5, {{3, 88}, {30, 60.25}, {31, 89.9}, {3, 88}}},
        {0, 1, {{5.5, 2.5}, {5.5, 2.5}, {20.5, 2.5}, {20.5, 8.5}}},
        {0, 40, {{-20, 50}}},
        {0, 40, {{119, 0}, {150, -30}}},
        {0, 40, {{-100, -100}, {-50, -60}}},
        {0, 40, {{10, 80}, {110, 80}, {60, 20}}},
        {0, 40, {{60, 45}, {60.0001, 45}}},
    };
    std::mt19937 random(11);
    for (int i = 0; i < 24; ++i) {
        const double radii[] = {1, 2.5, 40, 0.25 * (1 + random() % 80)};
        BrushStroke stroke{0, radii[i % 4], {}};
        for (unsigned n = 1 + random() % 4; n > 0; --n)
            stroke.points.push_back({-40 + 0.25 * (random() % 800), -40 + 0.25 * (random() % 680)});
        strokes.push_back(stroke);
    }
    return strokes;
}

} // namespace

TEST(BrushStroke, ARadiusOneSegmentCoversThePixelsWithinOnePixel)
{
    const BrushStroke stroke{0, 1, {{1.5, 1.5}, {3.5, 1.5}}};
    EXPECT_EQ(CoverOf(StrokeSpans(stroke, 5, 4), 5, 4), (Table{
                                                            {0, 1, 1, 1, 0},
                                                            {1, 1, 1, 1, 1},
                                                            {0, 1, 1, 1, 0},
                                                            {0, 0, 0, 0, 0},
                                                        }));
}

TEST(BrushStroke, SpansAreThePixelsWithinTheRadiusOfThePath)
{
    for (const BrushStroke &stroke : Strokes()) {
        SCOPED_TRACE(::testing::PrintToString(stroke.radius) + " " + std::to_string(stroke.points[0].x) + ", "
                     + std::to_string(stroke.points[0].y) + " and " + std::to_string(stroke.points.size() - 1) + " more");
        const std::vector<PixelSpan> spans = StrokeSpans(stroke, Width, Height);
        const Table expected = ReferenceStrokeCover(stroke, Width, Height);
        EXPECT_EQ(CoverOf(spans, Width, Height), expected);
        for (std::size_t i = 1; i < spans.size(); ++i) // in order, neither overlapping nor touching
            EXPECT_TRUE(spans[i].y > spans[i - 1].y || spans[i].first > spans[i - 1].last + 1) << i;
        const PixelRect box = BoxOf(expected), bounds = StrokeBounds(stroke, Width, Height);
        EXPECT_TRUE(box.Empty() || (bounds.left <= box.left && bounds.top <= box.top && bounds.right >= box.right
                                    && bounds.bottom >= box.bottom));
    }
}

TEST(BrushStroke, PaintingCopiesTheCoveredPixelsOfTheShotInEveryFormat)
{
    for (const TPixelFormat format : {pf8bit, pf24bit, pf48bit})
        for (const BrushStroke &stroke : Strokes()) {
            const TBitmap shot = Picture(format, Width, Height, 1), before = Picture(format, Width, Height, 2);
            TBitmap picture = before, sources = GreyBitmap(Table(Height, std::vector<int>(Width, 1)));
            const PixelRect box = PaintStroke(stroke, shot, picture, &sources, 7);
            const Table cover = ReferenceStrokeCover(stroke, Width, Height);
            ASSERT_EQ(ChannelTables(picture), Painted(before, shot, cover)) << format;
            EXPECT_EQ(box, BoxOf(cover));
            EXPECT_EQ(TableOf(sources), Numbers(cover, 7));
        }
}

// The window paints a stroke a segment at a time as the pointer moves, and a moved shot's pixels
// outside its coverage are left as they were.
TEST(BrushStroke, SegmentsPaintedOneByOneGiveTheStrokeAndUncoveredPixelsStay)
{
    const BrushStroke stroke{0, 2.5, {{3, 88}, {30, 60.25}, {31, 89.9}, {60, 10}}};
    const TBitmap shot = Picture(pf24bit, Width, Height, 1), before = Picture(pf24bit, Width, Height, 2);
    TBitmap whole = before, pieces = before;
    PaintStroke(stroke, shot, whole, nullptr, 0);
    for (std::size_t i = 0; i + 1 < stroke.points.size(); ++i)
        PaintStroke({0, stroke.radius, {stroke.points[i], stroke.points[i + 1]}}, shot, pieces, nullptr, 0);
    EXPECT_EQ(Bytes(pieces), Bytes(whole));

    Table shown(Height, std::vector<int>(Width, 255));
    for (int y = 0; y < Height; ++y)
        std::fill(shown[y].begin() + 20 + y / 3, shown[y].end(), 0);
    TBitmap partly = before, sources = GreyBitmap(Table(Height, std::vector<int>(Width, 1)));
    const TBitmap coverage = GreyBitmap(shown);
    PaintStroke(stroke, shot, partly, &sources, 9, &coverage);
    const Table cover = ReferenceStrokeCover(stroke, Width, Height);
    EXPECT_EQ(ChannelTables(partly), Painted(before, shot, cover, &shown));
    EXPECT_EQ(TableOf(sources), Numbers(cover, 9, &shown));
}

TEST(BrushStroke, StrokesThatCannotBePaintedAreRefusedAndNothingChanges)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<BrushStroke, std::string>> faults = {
        {{0, 0, {{1, 1}}}, "radius, 0,"},
        {{0, -2, {{1, 1}}}, "radius, -2,"},
        {{0, 500.5, {{1, 1}}}, "radius, 500.5, is not above 0 and at most 500"},
        {{0, nan, {{1, 1}}}, "radius, nan"},
        {{0, 3, {}}, "no points"},
        {{0, 3, {{1, 1}, {inf, 2}}}, "point 2 has the coordinate inf"},
        {{0, 3, {{1, -1e8}}}, "point 1 has the coordinate -100000000"},
    };
    const TBitmap shot = Picture(pf24bit, 8, 6, 1), before = Picture(pf24bit, 8, 6, 2);
    for (const auto &[stroke, words] : faults) {
        EXPECT_NE(StrokeFault(stroke).find(words), std::string::npos) << StrokeFault(stroke);
        TBitmap picture = before;
        EXPECT_THROW(PaintStroke(stroke, shot, picture, nullptr, 1), Exception) << words;
        EXPECT_EQ(Bytes(picture), Bytes(before));
    }
    EXPECT_EQ(StrokeFault({0, 500, {{-1e6, 1e6}}}), "");
    TBitmap smaller = Picture(pf24bit, 7, 6, 2), grey = Picture(pf8bit, 8, 6, 2);
    EXPECT_THROW(PaintStroke({0, 3, {{1, 1}}}, shot, smaller, nullptr, 1), Exception);
    EXPECT_THROW(PaintStroke({0, 3, {{1, 1}}}, shot, grey, nullptr, 1), Exception);
}
