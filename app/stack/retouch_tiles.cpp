#include "retouch_tiles.h"

#include <algorithm>
#include <cstring>

namespace {

// bytes gets the rows of rect of bitmap, one after another.
void ReadRows(const TBitmap &bitmap, PixelRect rect, std::uint8_t *bytes)
{
    const int pixelBytes = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    const std::size_t rowBytes = static_cast<std::size_t>(rect.right - rect.left) * pixelBytes;
    for (int y = rect.top; y < rect.bottom; ++y, bytes += rowBytes)
        std::memcpy(bytes, bitmap.ScanLine(y) + static_cast<std::size_t>(rect.left) * pixelBytes, rowBytes);
}

// The rows of rect of bitmap get bytes, as ReadRows laid them out.
void WriteRows(TBitmap &bitmap, PixelRect rect, const std::uint8_t *bytes)
{
    const int pixelBytes = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    const std::size_t rowBytes = static_cast<std::size_t>(rect.right - rect.left) * pixelBytes;
    for (int y = rect.top; y < rect.bottom; ++y, bytes += rowBytes)
        std::memcpy(bitmap.ScanLine(y) + static_cast<std::size_t>(rect.left) * pixelBytes, bytes, rowBytes);
}

std::size_t BytesOf(const TBitmap &bitmap, PixelRect rect)
{
    return static_cast<std::size_t>(rect.right - rect.left) * (rect.bottom - rect.top)
           * TBitmap::BytesPerPixel(bitmap.PixelFormat());
}

PixelRect United(PixelRect a, PixelRect b)
{
    if (a.Empty())
        return b;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

} // namespace

PixelRect RetouchTiles::TileRect(Key key, const TBitmap &picture) const
{
    return {key.first * Side, key.second * Side, std::min((key.first + 1) * Side, picture.Width()),
            std::min((key.second + 1) * Side, picture.Height())};
}

RetouchTiles::Tile RetouchTiles::Copy(const TBitmap &picture, const TBitmap &sources, PixelRect rect)
{
    Tile tile{std::vector<std::uint8_t>(BytesOf(picture, rect)), std::vector<std::uint8_t>(BytesOf(sources, rect))};
    ReadRows(picture, rect, tile.picture.data());
    ReadRows(sources, rect, tile.sources.data());
    return tile;
}

void RetouchTiles::Keep(const TBitmap &picture, const TBitmap &sources, PixelRect rect)
{
    if (rect.Empty())
        return;
    for (int row = rect.top / Side; row <= (rect.bottom - 1) / Side; ++row)
        for (int column = rect.left / Side; column <= (rect.right - 1) / Side; ++column)
            if (tiles_.find({column, row}) == tiles_.end())
                tiles_.emplace(Key{column, row}, Copy(picture, sources, TileRect({column, row}, picture)));
}

RetouchTiles RetouchTiles::Now(const TBitmap &picture, const TBitmap &sources) const
{
    RetouchTiles now;
    for (const auto &[key, tile] : tiles_)
        now.tiles_.emplace(key, Copy(picture, sources, TileRect(key, picture)));
    return now;
}

PixelRect RetouchTiles::Restore(TBitmap &picture, TBitmap &sources) const
{
    for (const auto &[key, tile] : tiles_) {
        const PixelRect rect = TileRect(key, picture);
        WriteRows(picture, rect, tile.picture.data());
        WriteRows(sources, rect, tile.sources.data());
    }
    return Bounds();
}

PixelRect RetouchTiles::Bounds() const
{
    PixelRect bounds;
    for (const auto &entry : tiles_)
        bounds = United(bounds, {entry.first.first * Side, entry.first.second * Side,
                                 (entry.first.first + 1) * Side, (entry.first.second + 1) * Side});
    return bounds;
}
