// Picture files written byte by byte (PNG with its checksums, JPEG through libjpeg, BMP and
// TIFF headers), so that a test can make exactly the file it needs, broken, lying
// or odd, which no picture writer would produce.
#pragma once

#include "test_bitmaps.h"

#include <cstdint>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

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

// A PNG chunk: its length, type and data, and the CRC-32 of type and data that libpng checks.
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

// The 54-byte header of an uncompressed 24-bit BMP, without pixel data.
inline std::string Bmp24Header(std::uint32_t width, std::uint32_t height)
{
    return "BM" + LittleEndian(54, 4) + LittleEndian(0, 4) + LittleEndian(54, 4) + LittleEndian(40, 4)
           + LittleEndian(width, 4) + LittleEndian(height, 4) + "\x01\0\x18\0"s + std::string(24, '\0');
}

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

