#include "bitmap.h"
#include "exception.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A pf24bit bitmap whose pixels are given as {blue, green, red} triples, row by row.
TBitmap Colour(int width, int height, const std::vector<std::uint8_t> &bgr)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < 3 * width; ++i)
            bitmap.ScanLine(y)[i] = bgr[static_cast<std::size_t>(3 * width * y + i)];
    return bitmap;
}

} // namespace

TEST(Bitmap, NewBitmapIsEmpty)
{
    TBitmap bitmap;
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Height(), 0);
    EXPECT_THROW(bitmap.ScanLine(0), Exception);
}

TEST(Bitmap, RowsArePaddedToFourBytes)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(5, 2);
    EXPECT_EQ(bitmap.RowStride(), 8u);
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), 8);
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap.RowStride(), 16u);
}

TEST(Bitmap, ScanLineOutsideTheRowsNamesRowAndHeight)
{
    TBitmap bitmap;
    bitmap.SetSize(4, 3);
    EXPECT_NO_THROW(bitmap.ScanLine(2));
    for (int row : {-1, 3}) {
        try {
            bitmap.ScanLine(row);
            FAIL() << "row " << row << " was accepted";
        } catch (const Exception &error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(std::to_string(row)), std::string::npos) << message;
            EXPECT_NE(message.find("height is 3"), std::string::npos) << message;
        }
    }
}

TEST(Bitmap, ColourToGreyIsRoundedLuma)
{
    // Pixels (blue, green, red): pure red, green, blue, white, and one that rounds up.
    TBitmap bitmap = Colour(5, 1, {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 3, 2, 1});
    bitmap.SetPixelFormat(pf8bit);
    // 299*255/1000 = 76.245, 587*255/1000 = 149.685, 114*255/1000 = 29.07, (299+1174+342)/1000 = 1.815
    EXPECT_EQ(Bytes(bitmap), (std::vector<std::uint8_t>{76, 150, 29, 255, 2}));
}

TEST(Bitmap, GreyToColourCopiesTheByteAndSameFormatKeepsBytes)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(3, 1);
    bitmap.ScanLine(0)[0] = 0;
    bitmap.ScanLine(0)[1] = 7;
    bitmap.ScanLine(0)[2] = 255;
    bitmap.SetPixelFormat(pf8bit);
    EXPECT_EQ(Bytes(bitmap), (std::vector<std::uint8_t>{0, 7, 255}));
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(Bytes(bitmap), (std::vector<std::uint8_t>{0, 0, 0, 7, 7, 7, 255, 255, 255}));
    // A colour bitmap set to 24 bits keeps its colours.
    TBitmap colour = Colour(1, 1, {10, 20, 30});
    colour.SetPixelFormat(pf24bit);
    EXPECT_EQ(Bytes(colour), (std::vector<std::uint8_t>{10, 20, 30}));
}

TEST(Bitmap, ResizeKeepsTheOverlapAndZeroesNewPixels)
{
    TBitmap bitmap = Colour(2, 2, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4});
    bitmap.SetWidth(3);
    bitmap.SetHeight(3);
    EXPECT_EQ(Bytes(bitmap), (std::vector<std::uint8_t>{1, 1, 1, 2, 2, 2, 0, 0, 0,
                                                        3, 3, 3, 4, 4, 4, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 0, 0, 0}));
    bitmap.SetSize(1, 1);
    EXPECT_EQ(Bytes(bitmap), (std::vector<std::uint8_t>{1, 1, 1}));
    EXPECT_THROW(bitmap.SetWidth(-1), Exception);
    EXPECT_EQ(bitmap.Width(), 1);
}

TEST(Bitmap, AssignMakesAnIndependentCopy)
{
    TBitmap source = Colour(2, 1, {1, 2, 3, 4, 5, 6});
    TBitmap copy;
    copy.SetPixelFormat(pf8bit);
    copy.Assign(source);
    EXPECT_EQ(copy.PixelFormat(), pf24bit);
    EXPECT_EQ(copy.Width(), 2);
    copy.ScanLine(0)[0] = 99;
    source.ScanLine(0)[1] = 98;
    EXPECT_EQ(Bytes(source), (std::vector<std::uint8_t>{1, 98, 3, 4, 5, 6}));
    EXPECT_EQ(Bytes(copy), (std::vector<std::uint8_t>{99, 2, 3, 4, 5, 6}));
}

TEST(Bitmap, AdoptPixelsTakesRowsOfTheBitmapsStrideOnly)
{
    PixelBuffer pixels(2 * TBitmap::StrideFor(3, pf24bit));
    pixels.data()[TBitmap::StrideFor(3, pf24bit)] = 7; // first byte of row 1
    TBitmap bitmap;
    bitmap.AdoptPixels(std::move(pixels), 3, 2, pf24bit);
    EXPECT_EQ(bitmap.ScanLine(1)[0], 7);
    EXPECT_THROW(bitmap.AdoptPixels(PixelBuffer(8), 3, 1, pf24bit), Exception);
    EXPECT_EQ(bitmap.Width(), 3);
}
