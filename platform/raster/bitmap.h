// TBitmap: a raster of 8-bit grey, 24-bit blue-green-red or 48-bit (16 bits a channel)
// blue-green-red pixels whose rows the pixel algorithms read and write directly through
// ScanLine. Plain C++, no Qt, so that the analysis code depends on nothing but this class.
#pragma once

#include "pixel_buffer.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum TPixelFormat { pf8bit, pf24bit, pf48bit };

class TBitmap {
public:
    // A new bitmap is empty (0 by 0) and in pf24bit.
    TBitmap() = default;

    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    TPixelFormat PixelFormat() const noexcept { return format_; }
    bool Empty() const noexcept { return width_ == 0 || height_ == 0; }

    // Resizing keeps the pixels of the overlapping top-left part; pixels it adds are 0.
    // A negative size raises an Exception.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);

    // Converts the pixels: 24 to 8 bits gives the BT.601 grey value
    // (299 R + 587 G + 114 B + 500) / 1000, 8 to 24 bits copies the byte into all three.
    // 48 to 24 bits rounds each channel v to (v * 255 + 32767) / 65535, that is v / 257;
    // 48 to 8 bits gives the grey of that 24-bit rounding. 8 or 24 to 48 bits turns each
    // byte v into v * 257, which the way back undoes exactly. Conversions to fewer bytes
    // a pixel reuse the buffer; the others need a second one. Setting the format the
    // bitmap already has keeps its bytes.
    void SetPixelFormat(TPixelFormat format);

    // Address of the first byte of a row, 0 <= row < Height(); pixel x is byte x (pf8bit),
    // bytes 3x, 3x + 1, 3x + 2 (pf24bit: blue, green, red), or the native-endian
    // std::uint16_t values 3x, 3x + 1, 3x + 2 of the row (pf48bit: blue, green, red; a row
    // starts on a 4-byte boundary, so it may be read through a std::uint16_t pointer). Rows
    // are padded to a multiple of 4 bytes. Another row raises an Exception that names the
    // row and the height.
    std::uint8_t *ScanLine(int row);
    const std::uint8_t *ScanLine(int row) const;

    // Bytes from the start of one row to the start of the next (a multiple of 4).
    std::size_t RowStride() const noexcept { return stride_; }

    // Makes this bitmap an independent copy of source: size, format and pixels.
    void Assign(const TBitmap &source);

    // Takes over pixels already laid out as this class lays them out: height rows of
    // StrideFor(width, format) bytes each. Raises an Exception when the buffer is smaller.
    void AdoptPixels(PixelBuffer pixels, int width, int height, TPixelFormat format);

    // Bytes from the start of one row to the start of the next for a bitmap of this width.
    static std::size_t StrideFor(int width, TPixelFormat format) noexcept;

    static int BytesPerPixel(TPixelFormat format) noexcept { return format == pf8bit ? 1 : format == pf24bit ? 3 : 6; }

private:
    void Reshape(int width, int height, TPixelFormat format);
    void NarrowInPlace(TPixelFormat format);

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pf24bit;
    std::size_t stride_ = 0;
    PixelBuffer pixels_;
};

// "640 x 480 pixels": how every message gives a picture's size.
std::string SizeText(int width, int height);
inline std::string SizeText(const TBitmap &bitmap) { return SizeText(bitmap.Width(), bitmap.Height()); }
