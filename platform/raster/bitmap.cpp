#include "bitmap.h"

#include "exception.h"
#include "pixel_rows.h"

#include <algorithm>
#include <cstring>
#include <string>

std::size_t TBitmap::StrideFor(int width, TPixelFormat format) noexcept
{
    const std::size_t rowBytes = static_cast<std::size_t>(width) * BytesPerPixel(format);
    return (rowBytes + 3) & ~static_cast<std::size_t>(3);
}

void TBitmap::SetWidth(int width) { SetSize(width, height_); }

void TBitmap::SetHeight(int height) { SetSize(width_, height); }

void TBitmap::SetSize(int width, int height)
{
    if (width < 0 || height < 0)
        throw Exception("Cannot size a bitmap to " + std::to_string(width) + " x " + std::to_string(height)
                        + " pixels: width and height must not be negative.");
    if (width != width_ || height != height_)
        Reshape(width, height, format_);
}

// Each grey byte gets the rounded BT.601 luma of its blue-green-red pixel. Reads pixel x
// before writing byte x, so to may start where from does.
static void GreyRow(const std::uint8_t *from, std::uint8_t *to, int width)
{
    for (int x = 0; x < width; ++x) {
        const unsigned blue = from[3 * x], green = from[3 * x + 1], red = from[3 * x + 2];
        to[x] = static_cast<std::uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
    }
}

// Rebuilds the pixel buffer for a new size, or for pf24bit from pf8bit; the overlapping
// top-left part of the old pixels is carried over, the rest is 0.
void TBitmap::Reshape(int width, int height, TPixelFormat format)
{
    const std::size_t stride = StrideFor(width, format);
    PixelBuffer pixels(stride * static_cast<std::size_t>(height));
    const int keptRows = std::min(height, height_);
    const int keptColumns = std::min(width, width_);

    for (int y = 0; y < keptRows && keptColumns > 0; ++y) {
        const std::uint8_t *from = pixels_.data() + stride_ * static_cast<std::size_t>(y);
        std::uint8_t *to = pixels.data() + stride * static_cast<std::size_t>(y);
        if (format == format_)
            std::memcpy(to, from, static_cast<std::size_t>(keptColumns) * BytesPerPixel(format));
        else // pf8bit to pf24bit: each pixel gets its grey byte in blue, green and red
            SpreadToThreeBytes(from, to, keptColumns);
    }

    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    format_ = format;
    stride_ = stride;
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == format_)
        return;
    if (format == pf8bit)
        ConvertToGreyInPlace();
    else
        Reshape(width_, height_, format);
}

// Converts to pf8bit within the same buffer, then gives back the unused tail: no second
// buffer is needed. Every grey row starts at or before its colour row and is written
// only after the colour bytes it overwrites have been read.
void TBitmap::ConvertToGreyInPlace()
{
    const std::size_t stride = StrideFor(width_, pf8bit);
    for (int y = 0; y < height_; ++y)
        GreyRow(pixels_.data() + stride_ * static_cast<std::size_t>(y),
                pixels_.data() + stride * static_cast<std::size_t>(y), width_);
    pixels_.Shrink(stride * static_cast<std::size_t>(height_));
    format_ = pf8bit;
    stride_ = stride;
}

static Exception RowOutOfRange(int row, int height)
{
    return Exception("Scan line " + std::to_string(row) + " is outside the bitmap: its height is "
                     + std::to_string(height) + ", so rows run from 0 to " + std::to_string(height - 1) + ".");
}

std::uint8_t *TBitmap::ScanLine(int row)
{
    if (row < 0 || row >= height_)
        throw RowOutOfRange(row, height_);
    return pixels_.data() + stride_ * static_cast<std::size_t>(row);
}

const std::uint8_t *TBitmap::ScanLine(int row) const
{
    if (row < 0 || row >= height_)
        throw RowOutOfRange(row, height_);
    return pixels_.data() + stride_ * static_cast<std::size_t>(row);
}

void TBitmap::Assign(const TBitmap &source)
{
    if (&source == this)
        return;
    pixels_ = source.pixels_;
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
    stride_ = source.stride_;
}

void TBitmap::AdoptPixels(PixelBuffer pixels, int width, int height, TPixelFormat format)
{
    const std::size_t stride = StrideFor(width, format);
    if (width < 0 || height < 0 || pixels.size() < stride * static_cast<std::size_t>(height))
        throw Exception("Cannot take over " + std::to_string(pixels.size()) + " bytes as a bitmap of "
                        + std::to_string(width) + " x " + std::to_string(height) + " pixels: too few bytes.");
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    format_ = format;
    stride_ = stride;
}
