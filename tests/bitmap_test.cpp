#include "bitmap.h"
#include "exception.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using ByteVector = std::vector<std::uint8_t>;

// A pf24bit bitmap whose pixels are given as {blue, green, red} triples, row by row.
TBitmap Colour(int width, int height, const ByteVector &bgr)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::copy_n(bgr.begin() + 3 * width * y, 3 * width, bitmap.ScanLine(y));
    return bitmap;
}

// A pf48bit bitmap whose pixels are given as {blue, green, red} triples of 16-bit values, row by row.
TBitmap Deep(int width, int height, const std::vector<std::uint16_t> &bgr)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf48bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::copy_n(bgr.begin() + 3 * width * y, 3 * width, reinterpret_cast<std::uint16_t *>(bitmap.ScanLine(y)));
    return bitmap;
}

} // namespace

TEST(Bitmap, ScanLineOutsideTheRowsNamesRowAndHeight)
{
    EXPECT_THROW(TBitmap().ScanLine(0), Exception);
    TBitmap bitmap;
    bitmap.SetSize(4, 3);
    EXPECT_NO_THROW(bitmap.ScanLine(2));
    for (int row : {-1, 3})
        try {
            bitmap.ScanLine(row);
            ADD_FAILURE() << "row " << row << " was accepted";
        } catch (const Exception &error) {
            EXPECT_NE(error.Message().find(std::to_string(row) + " is outside the bitmap: its height is 3"),
                      std::string::npos)
                << error.Message();
        }
}

TEST(Bitmap, ColourToGreyIsRoundedLuma)
{
    // Pixels (blue, green, red): pure red, green, blue, white, and one that rounds up.
    TBitmap bitmap = Colour(5, 1, {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 3, 2, 1});
    bitmap.SetPixelFormat(pf8bit);
    // 299*255/1000 = 76.245, 587*255/1000 = 149.685, 114*255/1000 = 29.07, (299+1174+342)/1000 = 1.815
    EXPECT_EQ(Bytes(bitmap), (ByteVector{76, 150, 29, 255, 2}));
}

TEST(Bitmap, GreyToColourCopiesTheByteAndTheSameFormatKeepsTheBytes)
{
    TBitmap bitmap = GreyBitmap({{0, 7, 255}});
    bitmap.SetPixelFormat(pf8bit);
    EXPECT_EQ(Bytes(bitmap), (ByteVector{0, 7, 255}));
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(Bytes(bitmap), (ByteVector{0, 0, 0, 7, 7, 7, 255, 255, 255}));
    TBitmap colour = Colour(1, 1, {10, 20, 30});
    colour.SetPixelFormat(pf24bit);
    EXPECT_EQ(Bytes(colour), (ByteVector{10, 20, 30}));
}

TEST(Bitmap, SixteenBitChannelsRoundToTheNearestByteAndBytesWidenExactly)
{
    // 16-bit values at the edges of the byte they round to, v / 257, and that byte.
    const std::vector<std::pair<std::uint16_t, std::uint8_t>> rounding = {
        {0, 0},       {128, 0},     {129, 1},     {385, 1},     {386, 2},
        {32767, 127}, {32768, 128}, {65406, 254}, {65407, 255}, {65535, 255}};
    // Ten pixels, 5 x 2 so that rows are padded; channel c of pixel p takes row (p + 3c) % 10.
    std::vector<std::uint16_t> deep;
    ByteVector rounded;
    for (int i = 0; i < 30; ++i) {
        const auto [value, byte] = rounding[(i / 3 + 3 * (i % 3)) % 10];
        deep.push_back(value);
        rounded.push_back(byte);
    }
    TBitmap bitmap = Deep(5, 2, deep), grey = Deep(5, 2, deep);
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(Bytes(bitmap), rounded);
    grey.SetPixelFormat(pf8bit);
    bitmap.SetPixelFormat(pf8bit);
    EXPECT_EQ(Bytes(grey), Bytes(bitmap)); // the grey of the rounded colours

    // Widening multiplies each byte by 257, a grey byte into all three channels; narrowing undoes it.
    for (const TPixelFormat format : {pf24bit, pf8bit}) {
        TBitmap narrow = Colour(5, 2, rounded);
        narrow.SetPixelFormat(format);
        std::vector<std::uint16_t> expected;
        for (const std::uint8_t byte : Bytes(narrow))
            expected.insert(expected.end(), format == pf8bit ? 3 : 1, static_cast<std::uint16_t>(byte * 257));
        TBitmap wide = narrow;
        wide.SetPixelFormat(pf48bit);
        EXPECT_EQ(SixteenBitChannels(wide), expected);
        wide.SetPixelFormat(format);
        EXPECT_EQ(Bytes(wide), Bytes(narrow));
    }
}

TEST(Bitmap, ResizeKeepsTheOverlapAndZeroesNewPixels)
{
    TBitmap bitmap = Colour(2, 2, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4});
    bitmap.SetWidth(3);
    bitmap.SetHeight(3);
    EXPECT_EQ(TableOf(bitmap), (Table{{1, 2, 0}, {3, 4, 0}, {0, 0, 0}}));
    bitmap.SetSize(1, 1);
    EXPECT_EQ(Bytes(bitmap), (ByteVector{1, 1, 1}));
    EXPECT_THROW(bitmap.SetWidth(-1), Exception);
    EXPECT_EQ(bitmap.Width(), 1);
}

TEST(Bitmap, AssignMakesAnIndependentCopy)
{
    TBitmap source = Colour(2, 1, {1, 2, 3, 4, 5, 6});
    TBitmap copy = GreyBitmap({{9}});
    copy.Assign(source);
    copy.ScanLine(0)[0] = 99;
    source.ScanLine(0)[1] = 98;
    EXPECT_EQ(Bytes(source), (ByteVector{1, 98, 3, 4, 5, 6}));
    EXPECT_EQ(Bytes(copy), (ByteVector{99, 2, 3, 4, 5, 6}));
}
