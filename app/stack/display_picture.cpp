#include "display_picture.h"

#include "exception.h"
#include "pixel_rows.h"
#include "vector_clones.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::uint32_t Opaque = 0xff000000u;

// Each pixel gets its grey byte in red, green and blue.
EDGEDOM_VECTOR_CLONES void GreyRow(const std::uint8_t *from, std::uint32_t *to, int width)
{
    for (int x = 0; x < width; ++x)
        to[x] = Opaque | from[x] * 0x010101u;
}

// Each pixel gets its blue, green and red bytes.
EDGEDOM_VECTOR_CLONES void ColourRow(const std::uint8_t *from, std::uint32_t *to, int width)
{
    for (int x = 0; x < width; ++x)
        to[x] = Opaque | std::uint32_t{from[3 * x + 2]} << 16 | std::uint32_t{from[3 * x + 1]} << 8 | from[3 * x];
}

// Each pixel gets the colour of its value from a table of 256.
void IndexedRow(const std::uint8_t *from, std::uint32_t *to, int width, const QRgb *colours)
{
    for (int x = 0; x < width; ++x)
        to[x] = colours[from[x]];
}

// The rounded mean of four 0xAARRGGBB pixels, channel by channel: two channels at a time in
// 16-bit lanes, where four bytes and the 2 that rounds their sum cannot overflow.
inline std::uint32_t Mean4(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
{
    constexpr std::uint32_t lanes = 0x00ff00ffu, half = 0x00020002u;
    const std::uint32_t redBlue = (((a & lanes) + (b & lanes) + (c & lanes) + (d & lanes) + half) >> 2) & lanes;
    const std::uint32_t alphaGreen =
        ((((a >> 8) & lanes) + ((b >> 8) & lanes) + ((c >> 8) & lanes) + ((d >> 8) & lanes) + half) >> 2) & lanes;
    return redBlue | alphaGreen << 8;
}

// Pixels x0 <= x < x1 of a halved row: the mean of the 2 x 2 block at 2x of the rows top and
// bottom, which hold parentWidth pixels; past an odd width the block repeats the last column.
EDGEDOM_VECTOR_CLONES void HalveRow(const std::uint32_t *top, const std::uint32_t *bottom, int parentWidth,
                                    std::uint32_t *to, int x0, int x1)
{
    const int pairs = std::min(x1, parentWidth / 2);
    for (int x = x0; x < pairs; ++x)
        to[x] = Mean4(top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1]);
    if (pairs < x1)
        to[pairs] = Mean4(top[2 * pairs], top[2 * pairs], bottom[2 * pairs], bottom[2 * pairs]);
}

// Rewrites rect of level from its parent, the level twice its size; past an odd height the
// blocks repeat the parent's last row.
void HalveRect(const QImage &parent, QImage &level, QRect rect)
{
    const uchar *from = parent.constBits();
    uchar *to = level.bits();
    const qsizetype fromStride = parent.bytesPerLine(), toStride = level.bytesPerLine();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const auto *top = reinterpret_cast<const std::uint32_t *>(from + 2 * y * fromStride);
        const auto *bottom =
            reinterpret_cast<const std::uint32_t *>(from + std::min(2 * y + 1, parent.height() - 1) * fromStride);
        HalveRow(top, bottom, parent.width(), reinterpret_cast<std::uint32_t *>(to + y * toStride), rect.left(),
                 rect.right() + 1);
    }
}

// The pixels of the halved level that depend on rect of its parent.
QRect HalvedRect(QRect rect)
{
    return {QPoint(rect.left() / 2, rect.top() / 2), QPoint(rect.right() / 2, rect.bottom() / 2)};
}

QImage NewLevel(int width, int height, QSize picture)
{
    QImage level(width, height, QImage::Format_RGB32);
    if (level.isNull())
        throw Exception("Not enough memory to show a picture of " + SizeText(picture.width(), picture.height())
                        + ": close other pictures or programs and try again.");
    return level;
}

const std::string NotAMap = "Cannot show the map: it must have 8 bits a pixel.";

} // namespace

std::shared_ptr<DisplayPicture> DisplayPicture::FromBitmap(const TBitmap &bitmap, int smallestLevelSide)
{
    std::shared_ptr<DisplayPicture> picture(new DisplayPicture);
    picture->Build(bitmap, smallestLevelSide);
    return picture;
}

std::shared_ptr<DisplayPicture> DisplayPicture::FromIndexed(const TBitmap &values, const std::vector<QRgb> &colours,
                                                            int smallestLevelSide)
{
    if (values.PixelFormat() != pf8bit)
        throw Exception(NotAMap);
    std::shared_ptr<DisplayPicture> picture(new DisplayPicture);
    picture->colours_.assign(256, Opaque);
    std::transform(colours.begin(), colours.begin() + std::min<std::size_t>(colours.size(), 256),
                   picture->colours_.begin(), [](QRgb colour) { return colour | Opaque; });
    picture->Build(values, smallestLevelSide);
    return picture;
}

void DisplayPicture::Build(const TBitmap &bitmap, int smallestLevelSide)
{
    if (bitmap.Empty())
        throw Exception("Cannot show an empty picture (" + SizeText(bitmap) + ").");
    const QSize size(bitmap.Width(), bitmap.Height());
    levels_.push_back(NewLevel(size.width(), size.height(), size));
    ConvertRect(bitmap, levels_.front().rect());
    while (std::max(levels_.back().width(), levels_.back().height()) > std::max(1, smallestLevelSide)) {
        const QImage &parent = levels_.back();
        QImage level = NewLevel((parent.width() + 1) / 2, (parent.height() + 1) / 2, size);
        HalveRect(parent, level, level.rect());
        levels_.push_back(std::move(level));
    }
}

void DisplayPicture::Update(const TBitmap &bitmap, QRect rect)
{
    CheckSource(bitmap);
    rect &= levels_.front().rect();
    if (rect.isEmpty())
        return;
    ConvertRect(bitmap, rect);
    for (std::size_t level = 1; level < levels_.size(); ++level) {
        rect = HalvedRect(rect);
        HalveRect(levels_[level - 1], levels_[level], rect);
    }
}

QRgb DisplayPicture::PixelAt(int x, int y) const
{
    const QImage &full = levels_.front();
    if (x < 0 || y < 0 || x >= full.width() || y >= full.height())
        return 0;
    return reinterpret_cast<const QRgb *>(full.constScanLine(y))[x];
}

void DisplayPicture::CheckSource(const TBitmap &bitmap) const
{
    if (bitmap.Width() != Width() || bitmap.Height() != Height())
        throw Exception("Cannot show the change of a picture of " + SizeText(bitmap) + " on the picture shown, of "
                        + SizeText(Width(), Height()) + ".");
    if (!colours_.empty() && bitmap.PixelFormat() != pf8bit)
        throw Exception(NotAMap);
}

// Rewrites rect (inside the picture) of the full copy from the bitmap's pixels.
void DisplayPicture::ConvertRect(const TBitmap &bitmap, QRect rect)
{
    uchar *bits = levels_.front().bits();
    const qsizetype stride = levels_.front().bytesPerLine();
    const int x0 = rect.left(), width = rect.width();
    // A 16-bit row is rounded to 8 bits a channel first, into this.
    std::vector<std::uint8_t> rounded(bitmap.PixelFormat() == pf48bit ? 3 * static_cast<std::size_t>(width) : 0);
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const std::uint8_t *from = bitmap.ScanLine(y);
        auto *to = reinterpret_cast<std::uint32_t *>(bits + y * stride) + x0;
        if (!colours_.empty()) {
            IndexedRow(from + x0, to, width, colours_.data());
        } else if (bitmap.PixelFormat() == pf8bit) {
            GreyRow(from + x0, to, width);
        } else if (bitmap.PixelFormat() == pf24bit) {
            ColourRow(from + 3 * x0, to, width);
        } else {
            RoundRowTo24(from + 6 * x0, rounded.data(), width);
            ColourRow(rounded.data(), to, width);
        }
    }
}
