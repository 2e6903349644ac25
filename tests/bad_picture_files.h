// Picture files written byte by byte, each exactly one case of what a user may throw at
// edgedom: files that cannot be used, headers that announce too many pixels, and odd
// pictures that are fine. Shared by the command-line tool's and the window's tests.
#pragma once

#include "test_bitmaps.h"

#include <cstdint>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace bad_files {

using namespace std::string_literals;

inline std::string BigEndian(std::uint32_t value, int bytes)
{
    std::string text;
    for (int i = bytes - 1; i >= 0; --i)
        text += static_cast<char>(value >> (8 * i));
    return text;
}

inline std::string LittleEndian(std::uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; ++i)
        text += static_cast<char>(value >> (8 * i));
    return text;
}

inline std::string PngChunk(const std::string &type, const std::string &data)
{
    const std::string body = type + data;
    const auto crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    return BigEndian(static_cast<std::uint32_t>(data.size()), 4) + body + BigEndian(static_cast<std::uint32_t>(crc), 4);
}

// A PNG of the given colour type and bit depth; row(y) gives the packed bytes of row y,
// which are deflated a row at a time, so a large blank picture costs little memory here.
inline std::string Png(std::uint32_t width, std::uint32_t height, int colourType, int depth,
                const std::function<std::string(std::uint32_t)> &row, const std::string &palette = {})
{
    std::string header = BigEndian(width, 4) + BigEndian(height, 4);
    header += {static_cast<char>(depth), static_cast<char>(colourType), 0, 0, 0};
    std::string compressed;
    z_stream stream{};
    deflateInit(&stream, Z_BEST_SPEED);
    char buffer[1 << 16];
    for (std::uint32_t y = 0; y <= height; ++y) {
        std::string bytes = y < height ? std::string(1, '\0') + row(y) : std::string(); // filter type 0
        stream.next_in = reinterpret_cast<Bytef *>(bytes.data());
        stream.avail_in = static_cast<uInt>(bytes.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, y < height ? Z_NO_FLUSH : Z_FINISH);
            compressed.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", header) + (palette.empty() ? "" : PngChunk("PLTE", palette))
           + PngChunk("IDAT", compressed) + PngChunk("IEND", "");
}

// An 8-bit grey PNG of the table.
inline std::string GreyPng(const Table &rows)
{
    return Png(static_cast<std::uint32_t>(rows[0].size()), static_cast<std::uint32_t>(rows.size()), 0, 8,
               [&](std::uint32_t y) { return std::string(rows[y].begin(), rows[y].end()); });
}

// A baseline JPEG through libjpeg: 3 (RGB) or 4 (CMYK) bytes per pixel.
inline std::string Jpeg(int width, int height, J_COLOR_SPACE space, const std::string &pixels)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &data, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = space == JCS_CMYK ? 4 : 3;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<JSAMPROW>(const_cast<char *>(pixels.data())) + y * width * info.input_components;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<char *>(data), size);
    std::free(data);
    return bytes;
}

// A GIF of several frames over a four-colour palette of greys. The pixel codes are sent
// with a clear code before each, so the code size stays 3 bits and no table is needed.
inline std::string Gif(int width, int height, const std::string &greys, const std::vector<Table> &frames)
{
    std::string gif = "GIF89a" + LittleEndian(width, 2) + LittleEndian(height, 2) + "\xF1\0\0"s;
    for (const char grey : greys)
        gif += std::string(3, grey);
    gif += "\x21\xFF\x0BNETSCAPE2.0\x03\x01\0\0\0"s; // loop forever
    for (const Table &frame : frames) {
        gif += "\x21\xF9\x04\x04\x0A\0\0\0"s; // a tenth of a second, then keep the frame
        gif += ',' + LittleEndian(0, 4) + LittleEndian(width, 2) + LittleEndian(height, 2) + "\0\x02"s;
        std::string codes;
        unsigned bits = 0, count = 0;
        const auto put = [&](unsigned code) {
            bits |= code << count, count += 3;
            for (; count >= 8; count -= 8, bits >>= 8)
                codes += static_cast<char>(bits & 0xFF);
        };
        for (const auto &row : frame)
            for (const int index : row)
                put(4), put(static_cast<unsigned>(index));
        put(5);
        if (count > 0)
            codes += static_cast<char>(bits);
        for (std::size_t at = 0; at < codes.size(); at += 255) {
            const std::string block = codes.substr(at, 255);
            gif += static_cast<char>(block.size()) + block;
        }
        gif += '\0';
    }
    return gif + ";";
}

// ---- The cases ---------------------------------------------------------------------------

// A file that cannot be used and what the message about it must say. A missing file is not
// written; a folder is made instead of a file.
struct TUnusable {
    enum TKind { File, Missing, Folder } kind;
    std::string name, bytes, reason;
};

// Writes the case into folder and returns its path.
inline std::filesystem::path Make(const std::filesystem::path &folder, const TUnusable &file)
{
    const std::filesystem::path path = folder / file.name;
    if (file.kind == TUnusable::File)
        std::ofstream(path, std::ios::binary) << file.bytes;
    else if (file.kind == TUnusable::Folder)
        std::filesystem::create_directory(path);
    return path;
}

inline std::string Bmp24Header(std::uint32_t width, std::uint32_t height)
{
    return "BM" + LittleEndian(54, 4) + LittleEndian(0, 4) + LittleEndian(54, 4) + LittleEndian(40, 4)
           + LittleEndian(width, 4) + LittleEndian(height, 4) + "\x01\0\x18\0"s + std::string(24, '\0');
}

inline std::vector<TUnusable> UnusablePictures()
{
    const std::string photo = Jpeg(64, 48, JCS_RGB, std::string(64 * 48 * 3, '\x55'));
    const std::string png = GreyPng(Table(40, std::vector<int>(50, 7)));
    // No reader gives a picture of 0 x 0 pixels, whatever the format: each refuses it.
    const std::string emptyGif = "GIF89a\0\0\0\0\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\0\0\0\0\0\x02\x02\x44\x01\0;"s;
    return {
        {TUnusable::Missing, "missing.png", "", "does not exist"},
        {TUnusable::Folder, "folder.png", "", "folder"},
        {TUnusable::File, "empty.png", "", "empty"},
        {TUnusable::File, "truncated.png", png.substr(0, png.size() / 2), "damaged or incomplete"},
        {TUnusable::File, "bad checksum.png", png.substr(0, 30) + "X" + png.substr(31), "damaged or incomplete"},
        {TUnusable::File, "truncated.jpg", photo.substr(0, photo.size() * 2 / 3), "damaged or incomplete"},
        {TUnusable::File, "damaged.jpg", photo.substr(0, 200) + std::string(40, '\xFF') + photo.substr(240), "damaged"},
        {TUnusable::File, "notes.png", "These are notes, not a picture.\n", "not a picture"},
        {TUnusable::File, "notes.jpg", "\xFF\xD8 and then only notes.\n", "damaged"},
        {TUnusable::File, "short.tga", "\0\0\x02"s + std::string(9, '\0') + "\0\0\0\0\x18\0"s, "not a picture"},
        {TUnusable::File, "zero.pgm", "P5\n0 0\n255\n", "damaged or incomplete"},
        {TUnusable::File, "zero-wide.bmp", Bmp24Header(0, 4), "damaged or incomplete"},
        {TUnusable::File, "zero.gif", emptyGif, "damaged or incomplete"},
    };
}

// Headers announcing more than MaxPixels, but within what Qt's readers take, so that only
// edgedom's own check stands between each and 3.6 GB; the reason is the size it must name.
// A little-endian TIFF directory for 8-bit grey pixels in one strip; no pixel data follows.
inline std::string TiffHeader(std::uint32_t width, std::uint32_t height)
{
    const std::uint32_t tags[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},      {259, 3, 1}, {262, 3, 1},
                                     {273, 4, 8},     {277, 3, 1},      {278, 4, height}, {279, 4, width * height}};
    std::string tiff = "II*\0"s + LittleEndian(8, 4) + LittleEndian(std::size(tags), 2);
    for (const auto &[tag, type, value] : tags)
        tiff += LittleEndian(tag, 2) + LittleEndian(type, 2) + LittleEndian(1, 4) + LittleEndian(value, 4);
    return tiff + LittleEndian(0, 4);
}

inline std::vector<TUnusable> HugeHeaderPictures()
{
    const std::string pngHeader = "\x89PNG\r\n\x1a\n"
                                  + PngChunk("IHDR", BigEndian(100000, 4) + BigEndian(100000, 4) + "\x08\x02\0\0\0"s);
    const std::string jpegHeader = "\xFF\xD8\xFF\xC0\0\x0B\x08"s + BigEndian(30000, 2) + BigEndian(30000, 2)
                                   + "\x01\x01\x11\0\xFF\xDA\0\x08\x01\x01\0\0\x3F\0\xFF\xD9"s;
    const std::string gifHeader = "GIF89a" + LittleEndian(30000, 2) + LittleEndian(30000, 2) + "\0\0\0"s + ","
                                  + LittleEndian(0, 4) + LittleEndian(30000, 2) + LittleEndian(30000, 2) + "\0\x02"s;
    return {
        {TUnusable::File, "huge.png", pngHeader + PngChunk("IDAT", "") + PngChunk("IEND", ""), "100000 x 100000"},
        {TUnusable::File, "huge.pgm", "P5\n30000 30000\n255\n" + std::string(4096, '\0'), "30000 x 30000"},
        // Qt's BMP reader refuses sides above 16384 itself, and 16384 x 16384 is MaxPixels.
        {TUnusable::File, "huge.bmp", Bmp24Header(30000, 30000) + std::string(4096, '\0'), "damaged or incomplete"},
        {TUnusable::File, "huge.jpg", jpegHeader, "30000 x 30000"},
        {TUnusable::File, "huge.gif", gifHeader + std::string(4096, '\0'), "30000 x 30000"},
        // Qt's GIF reader announces the 1 x 1 frame but decodes the 30000 x 30000 screen.
        {TUnusable::File, "huge screen.gif",
         "GIF89a" + LittleEndian(30000, 2) + LittleEndian(30000, 2) + "\x80\0\0\0\0\0\xFF\xFF\xFF,"s
             + LittleEndian(0, 4) + LittleEndian(1, 2) + LittleEndian(1, 2) + "\0\x02\x02\x44\x01\0;"s,
         "30000 x 30000"},
        {TUnusable::File, "huge.tif", TiffHeader(30000, 30000) + std::string(4096, '\0'), "30000 x 30000"},
    };
}

// An odd picture that is fine, and the grey levels it must load as (within tolerance).
struct TOddPicture {
    std::string name, bytes;
    Table greys;
    int tolerance;
};

inline std::vector<TOddPicture> OddPictures()
{
    const Table greys = {{0, 85, 170}, {255, 170, 85}}; // 3 x 2, as each file below shows it
    // Row y of greys packed at depth bits per sample (1, 2 or 4 levels of 85 apart below 8
    // bits), each sample repeated: twice for 16 bits, six times for 16-bit colour.
    const auto packed = [&](std::uint32_t y, int repeat, int depth) {
        std::string row;
        unsigned bits = 0, count = 0;
        for (const int grey : greys[y]) {
            if (depth < 8)
                bits = bits << depth | static_cast<unsigned>(grey / 85), count += static_cast<unsigned>(depth);
            else
                row += std::string(static_cast<std::size_t>(repeat), static_cast<char>(grey)); // v * 257 reads as v
        }
        if (count > 0)
            row += static_cast<char>(bits << (8 - count));
        return row;
    };
    std::string cmyk; // inverted, as photo editors store it: cyan, then a 50% black, in 8 x 8 blocks
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            cmyk += x < 8 ? "\x00\xFF\xFF\xFF"s : "\xFF\xFF\xFF\x7F"s;
    const Table cmykGreys(8, {179, 179, 179, 179, 179, 179, 179, 179, 127, 127, 127, 127, 127, 127, 127, 127});
    const Table indices = {{0, 1, 2}, {3, 2, 1}}, laterIndices = {{3, 3, 3}, {0, 0, 0}};
    return {
        {"one pixel.png", GreyPng({{77}}), {{77}}, 0},
        {"16-bit grey.png", Png(3, 2, 0, 16, [&](std::uint32_t y) { return packed(y, 2, 16); }), greys, 0},
        {"16-bit colour.png", Png(3, 2, 2, 16, [&](std::uint32_t y) { return packed(y, 6, 16); }), greys, 0},
        {"2-bit palette.png",
         Png(3, 2, 3, 2, [&](std::uint32_t y) { return packed(y, 1, 2); },
             "\0\0\0\x55\x55\x55\xAA\xAA\xAA\xFF\xFF\xFF"s),
         greys, 0},
        {"grey and alpha.png",
         Png(3, 2, 4, 8,
             [&](std::uint32_t y) {
                 std::string row;
                 for (std::size_t x = 0; x < 3; ++x) // alpha 0, 120, 240
                     row += {static_cast<char>(greys[y][x]), static_cast<char>(x * 120)};
                 return row;
             }),
         greys, 0},
        {"cmyk.jpg", Jpeg(16, 8, JCS_CMYK, cmyk), cmykGreys, 3},
        {"animated.gif", Gif(3, 2, "\x00\x55\xAA\xFF"s, {indices, laterIndices}), greys, 0}, // the first frame
        {"Zoë's été – 2 copies.png", GreyPng(greys), greys, 0},
    };
}

} // namespace bad_files
