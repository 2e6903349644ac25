// Small hand-made bitmaps for the tests, written as tables shaped like the picture.
#pragma once

#include "bitmap.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

using Table = std::vector<std::vector<int>>;

// A pf8bit bitmap whose bytes are the table's values.
inline TBitmap GreyBitmap(const Table &rows)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(rows.empty() ? 0 : static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            bitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(rows[y][x]);
    return bitmap;
}

// A pf24bit bitmap whose pixels hold the table's values in all three bytes.
inline TBitmap GreyPixels24(const Table &rows)
{
    TBitmap bitmap = GreyBitmap(rows);
    bitmap.SetPixelFormat(pf24bit);
    return bitmap;
}

// The bitmap's pixel values as a table: the byte of a pf8bit pixel, byte 0 of a pf24bit one.
inline Table TableOf(const TBitmap &bitmap)
{
    const int step = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    Table rows(static_cast<std::size_t>(bitmap.Height()), std::vector<int>(static_cast<std::size_t>(bitmap.Width())));
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            rows[y][x] = bitmap.ScanLine(y)[step * x];
    return rows;
}

// True when every pf24bit pixel holds one value in all three bytes.
inline bool AllBytesEqual(const TBitmap &bitmap)
{
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t *row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            if (row[3 * x] != row[3 * x + 1] || row[3 * x] != row[3 * x + 2])
                return false;
    }
    return true;
}

// Every pixel byte of the bitmap, row after row, without the rows' padding.
inline std::vector<std::uint8_t> Bytes(const TBitmap &bitmap)
{
    std::vector<std::uint8_t> bytes;
    const int rowBytes = bitmap.Width() * TBitmap::BytesPerPixel(bitmap.PixelFormat());
    for (int y = 0; y < bitmap.Height(); ++y)
        bytes.insert(bytes.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + rowBytes);
    return bytes;
}

// The 16-bit channels of a pf48bit bitmap, row after row, without the rows' padding.
inline std::vector<std::uint16_t> SixteenBitChannels(const TBitmap &bitmap)
{
    std::vector<std::uint16_t> channels;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const auto *row = reinterpret_cast<const std::uint16_t *>(bitmap.ScanLine(y));
        channels.insert(channels.end(), row, row + 3 * bitmap.Width());
    }
    return channels;
}

// Grey levels that depend only on seed and (min(x, 7), min(y, 5)): past the 8 x 6 top-left
// part they repeat the last column and row, so that part's edge map is the same in every
// larger picture.
inline Table PatternTable(int width, int height, unsigned seed)
{
    Table rows(static_cast<std::size_t>(height), std::vector<int>(static_cast<std::size_t>(width)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned u = static_cast<unsigned>(std::min(x, 7)), v = static_cast<unsigned>(std::min(y, 5));
            rows[y][x] = static_cast<int>((u * 37 + v * 91 + seed * 53 + u * v * seed) % 256);
        }
    return rows;
}

// A pf8bit bitmap of one channel's table, or a pf24bit one of blue, green and red tables, or
// with sixteenBits a pf48bit one of 16-bit blue, green and red tables.
inline TBitmap ChannelBitmap(const std::vector<Table> &channels, bool sixteenBits = false)
{
    if (channels.size() == 1)
        return GreyBitmap(channels[0]);
    TBitmap bitmap = GreyPixels24(channels[0]);
    bitmap.SetPixelFormat(sixteenBits ? pf48bit : pf24bit);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            for (int c = 0; c < 3; ++c) {
                if (sixteenBits)
                    reinterpret_cast<std::uint16_t *>(bitmap.ScanLine(y))[3 * x + c] =
                        static_cast<std::uint16_t>(channels[c][y][x]);
                else
                    bitmap.ScanLine(y)[3 * x + c] = static_cast<std::uint8_t>(channels[c][y][x]);
            }
    return bitmap;
}

// The tables of a bitmap's channels: one for pf8bit, blue, green and red for pf24bit and pf48bit.
inline std::vector<Table> ChannelTables(const TBitmap &bitmap)
{
    if (bitmap.PixelFormat() == pf48bit) {
        const std::vector<std::uint16_t> values = SixteenBitChannels(bitmap);
        std::vector<Table> channels(3, Table(bitmap.Height(), std::vector<int>(bitmap.Width())));
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                for (int c = 0; c < 3; ++c)
                    channels[c][y][x] = values[(static_cast<std::size_t>(y) * bitmap.Width() + x) * 3 + c];
        return channels;
    }
    const int step = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    std::vector<Table> channels(static_cast<std::size_t>(step), TableOf(bitmap));
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            for (int c = 1; c < step; ++c)
                channels[c][y][x] = bitmap.ScanLine(y)[step * x + c];
    return channels;
}

// A 96 x 72 smooth random texture (levels 0 to 199 drawn 6 pixels apart, blended bilinearly)
// whose pixel (x, y) shows the texture's point (x + dx, y + dy) lifted by lift: a scene that
// registers well.
inline Table Texture(unsigned seed, int dx = 0, int dy = 0, int lift = 0)
{
    std::mt19937 random(seed);
    Table lattice(20, std::vector<int>(24));
    for (std::vector<int> &row : lattice)
        for (int &level : row)
            level = static_cast<int>(random() % 200);
    Table rows(72, std::vector<int>(96));
    for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 96; ++x) {
            const int u = x + dx + 12, v = y + dy + 12, i = u / 6, j = v / 6, fu = u % 6, fv = v % 6;
            rows[y][x] = ((lattice[j][i] * (6 - fu) + lattice[j][i + 1] * fu) * (6 - fv)
                          + (lattice[j + 1][i] * (6 - fu) + lattice[j + 1][i + 1] * fu) * fv) / 36
                         + lift;
        }
    return rows;
}
