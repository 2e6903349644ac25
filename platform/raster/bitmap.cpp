#include "bitmap.h"

#include "exception.h"
#include "pixel_rows.h"
#include "vector_clones.h"

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
        throw Exception("Cannot size a bitmap to " + SizeText(width, height)
                        + ": width and height must not be negative.");
    if (width != width_ || height != height_)
        Reshape(width, height, format_);
}

namespace {

std::uint8_t Grey(unsigned blue, unsigned green, unsigned red)
{
    return static_cast<std::uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

// round(v / 257): the same as (v * 255 + 32767) / 65535 for every 16-bit v, without a division.
unsigned RoundTo8Bits(unsigned v) { return (v + 128 - ((v + 128) >> 8)) >> 8; }

// Rows converted to a format of fewer bytes a pixel may lie in the same buffer, the new row
// starting at or before the old: each pixel is read whole before its new bytes are written,
// and those never reach a pixel not yet read.

// Each grey byte gets the rounded BT.601 luma of its blue-green-red pixel.
EDGEDOM_VECTOR_CLONES void GreyRow(const std::uint8_t *from, std::uint8_t *to, int width)
{
    for (int x = 0; x < width; ++x)
        to[x] = Grey(from[3 * x], from[3 * x + 1], from[3 * x + 2]);
}

// Each grey byte gets the luma of its 48-bit pixel's channels rounded to 8 bits.
EDGEDOM_VECTOR_CLONES void GreyRowOf48(const std::uint8_t *from, std::uint8_t *to, int width)
{
    const auto *channels = reinterpret_cast<const std::uint16_t *>(from);
    for (int x = 0; x < width; ++x)
        to[x] = Grey(RoundTo8Bits(channels[3 * x]), RoundTo8Bits(channels[3 * x + 1]),
                     RoundTo8Bits(channels[3 * x + 2]));
}

// Each 16-bit channel gets its grey byte times 257.
EDGEDOM_VECTOR_CLONES void SpreadGreyTo48(const std::uint8_t *__restrict from, std::uint8_t *__restrict to, int width)
{
    auto *channels = reinterpret_cast<std::uint16_t *>(to);
    for (int x = 0; x < width; ++x) {
        const auto value = static_cast<std::uint16_t>(from[x] * 257);
        channels[3 * x] = value;
        channels[3 * x + 1] = value;
        channels[3 * x + 2] = value;
    }
}

// Each 16-bit channel gets its byte times 257.
EDGEDOM_VECTOR_CLONES void WidenRowTo48(const std::uint8_t *__restrict from, std::uint8_t *__restrict to, int width)
{
    auto *channels = reinterpret_cast<std::uint16_t *>(to);
    for (int i = 0; i < 3 * width; ++i)
        channels[i] = static_cast<std::uint16_t>(from[i] * 257);
}

// Copies a row of `from` pixels into a separate row of `to` pixels, as many bytes a pixel or more.
void CopyRow(const std::uint8_t *from, TPixelFormat fromFormat, std::uint8_t *to, TPixelFormat toFormat, int width)
{
    if (fromFormat == toFormat)
        std::memcpy(to, from, static_cast<std::size_t>(width) * TBitmap::BytesPerPixel(toFormat));
    else if (toFormat == pf24bit)
        SpreadToThreeBytes(from, to, width);
    else if (fromFormat == pf8bit)
        SpreadGreyTo48(from, to, width);
    else
        WidenRowTo48(from, to, width);
}

// Rewrites a row of `from` pixels as `to` pixels of fewer bytes each, possibly in place.
void NarrowRow(const std::uint8_t *from, TPixelFormat fromFormat, std::uint8_t *to, TPixelFormat toFormat, int width)
{
    if (toFormat == pf24bit)
        RoundRowTo24(from, to, width);
    else if (fromFormat == pf48bit)
        GreyRowOf48(from, to, width);
    else
        GreyRow(from, to, width);
}

} // namespace

EDGEDOM_VECTOR_CLONES void SpreadToThreeBytes(const std::uint8_t *__restrict bytes, std::uint8_t *__restrict pixels,
                                              int width)
{
    SpreadToThreeBytes(bytes, pixels, width, [](std::uint8_t value) { return value; });
}

EDGEDOM_VECTOR_CLONES void RoundRowTo24(const std::uint8_t *from, std::uint8_t *to, int width)
{
    const auto *channels = reinterpret_cast<const std::uint16_t *>(from);
    // Each byte gets its 16-bit channel rounded to 8 bits.
    for (int i = 0; i < 3 * width; ++i)
        to[i] = static_cast<std::uint8_t>(RoundTo8Bits(channels[i]));
}

// Rebuilds the pixel buffer for a new size, or for a format of as many bytes a pixel or
// more; the overlapping top-left part of the old pixels is carried over, the rest is 0.
void TBitmap::Reshape(int width, int height, TPixelFormat format)
{
    const std::size_t stride = StrideFor(width, format);
    PixelBuffer pixels(stride * static_cast<std::size_t>(height));
    const int keptRows = std::min(height, height_);
    const int keptColumns = std::min(width, width_);

    for (int y = 0; y < keptRows && keptColumns > 0; ++y)
        CopyRow(pixels_.data() + stride_ * static_cast<std::size_t>(y), format_,
                pixels.data() + stride * static_cast<std::size_t>(y), format, keptColumns);

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
    if (BytesPerPixel(format) < BytesPerPixel(format_))
        NarrowInPlace(format);
    else
        Reshape(width_, height_, format);
}

// Converts to a format of fewer bytes a pixel within the same buffer, then gives back the
// unused tail: no second buffer is needed. Every new row starts at or before its old row.
void TBitmap::NarrowInPlace(TPixelFormat format)
{
    const std::size_t stride = StrideFor(width_, format);
    for (int y = 0; y < height_; ++y)
        NarrowRow(pixels_.data() + stride_ * static_cast<std::size_t>(y), format_,
                  pixels_.data() + stride * static_cast<std::size_t>(y), format, width_);
    pixels_.Shrink(stride * static_cast<std::size_t>(height_));
    format_ = format;
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
                        + SizeText(width, height) + ": too few bytes.");
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    format_ = format;
    stride_ = stride;
}

std::string SizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}
