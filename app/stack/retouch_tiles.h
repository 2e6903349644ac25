// The pixels of the retouched picture and its source map under a stroke, kept tile by tile to
// undo or redo it: a stroke of any length keeps only the 64 x 64 tiles it touched, each once.
#pragma once

#include "bitmap.h"
#include "brush_stroke.h"

#include <map>
#include <utility>
#include <vector>

class RetouchTiles {
public:
    // Keeps the tiles of rect (picture pixels) that are not kept yet, as they are now.
    void Keep(const TBitmap &picture, const TBitmap &sources, PixelRect rect);
    // The kept tiles' places, as they are now in picture and sources.
    RetouchTiles Now(const TBitmap &picture, const TBitmap &sources) const;
    // Writes the kept tiles back; returns the rectangle they cover (empty when none).
    PixelRect Restore(TBitmap &picture, TBitmap &sources) const;
    // The rectangle of the kept tiles.
    PixelRect Bounds() const;

    static constexpr int Side = 64;

private:
    struct Tile {
        std::vector<std::uint8_t> picture, sources;
    };
    using Key = std::pair<int, int>; // the tile's column and row

    PixelRect TileRect(Key key, const TBitmap &picture) const;
    static Tile Copy(const TBitmap &picture, const TBitmap &sources, PixelRect rect);

    std::map<Key, Tile> tiles_;
};
