// DisplayPicture: what the stack window's viewer draws for one picture, a full-size copy in
// the 32-bit format QPainter draws fastest and copies of it halved again and again, so that a
// view of a picture of tens of megapixels reads about as many pixels as it shows. It touches
// no widget, so a worker thread builds it; live painting rewrites a rectangle of every copy.
#pragma once

#include "bitmap.h"

#include <QImage>
#include <QRect>
#include <QRgb>

#include <memory>
#include <vector>

class DisplayPicture {
public:
    // Reduced copies are halved until their longest side is at most this many pixels.
    static constexpr int SmallestLevelSide = 512;

    // The picture of a pf8bit (grey), pf24bit (blue, green, red) or pf48bit bitmap, whose
    // 16-bit channels v show rounded to (v * 255 + 32767) / 65535. Raises an Exception for an
    // empty bitmap or when there is not enough memory for the copies.
    static std::shared_ptr<DisplayPicture> FromBitmap(const TBitmap &bitmap,
                                                      int smallestLevelSide = SmallestLevelSide);

    // The picture of a pf8bit map of small numbers (the source map): value v shows as
    // colours[v] (made opaque), values past the table black. Raises an Exception for another
    // format, an empty map or too little memory.
    static std::shared_ptr<DisplayPicture> FromIndexed(const TBitmap &values, const std::vector<QRgb> &colours,
                                                       int smallestLevelSide = SmallestLevelSide);

    // Rewrites rect, clipped to the picture, of the full copy from bitmap by the rules it was
    // built with, and the pixels of every reduced copy that depend on it. bitmap must have the
    // picture's size, and be pf8bit for an indexed picture; else an Exception is raised.
    void Update(const TBitmap &bitmap, QRect rect);

    int Width() const noexcept { return levels_.front().width(); }
    int Height() const noexcept { return levels_.front().height(); }

    // Level 0 is the full copy; level k + 1 is level k halved, ceil(w / 2) x ceil(h / 2),
    // each pixel the rounded mean (sum + 2) / 4 of a 2 x 2 block, channel by channel. At an
    // odd width the last column's block holds one column, which counts twice (so the mean is
    // that of the pixels there are); likewise the last row at an odd height. Every level is
    // QImage::Format_RGB32.
    int LevelCount() const noexcept { return static_cast<int>(levels_.size()); }
    const QImage &Level(int level) const { return levels_.at(static_cast<std::size_t>(level)); }

    // The colour shown at pixel (x, y) of the full copy, for the status bar; 0 outside.
    QRgb PixelAt(int x, int y) const;

private:
    DisplayPicture() = default;
    void Build(const TBitmap &bitmap, int smallestLevelSide);
    void ConvertRect(const TBitmap &bitmap, QRect rect);
    void CheckSource(const TBitmap &bitmap) const;

    std::vector<QImage> levels_;
    // The 256 colours of an indexed picture's values; empty for a grey or colour one.
    std::vector<QRgb> colours_;
};
