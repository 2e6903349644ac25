// The rows of a PNG file before compression: a bitmap row in the file's sample order, and
// the PNG filters, which replace each byte by its difference from a prediction made of the
// bytes left of it, above it and above-left, so that the compressor sees small, repeating
// values. Plain C++; the loops are compiled for AVX2 too.
#pragma once

#include "bitmap.h"

#include <cstddef>
#include <cstdint>

// The filter types of PNG, by the number a filtered row starts with.
enum class PngFilter : std::uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// The samples of a bitmap row as a PNG file holds them: pf8bit grey as it is, pf24bit blue,
// green, red as red, green, blue, pf48bit likewise with each 16-bit channel big-endian.
// Writes width * BytesPerPixel(format) bytes; the rows must not overlap.
void PngSamplesRow(const std::uint8_t *__restrict from, std::uint8_t *__restrict to, int width, TPixelFormat format);

// Writes row (bytes long, bytesPerPixel bytes a pixel: 1, 3 or 6) filtered with filter to
// out, without the filter type byte. above is the row above in the same sample order, all
// zero for the first row. out overlaps neither.
void FilterRow(PngFilter filter, const std::uint8_t *__restrict row, const std::uint8_t *__restrict above,
               std::uint8_t *__restrict out, std::size_t bytes, int bytesPerPixel);

// The sum of a filtered row's bytes read as signed values, made positive: libpng's measure
// of how well a filter predicted a row, the smaller the better.
std::uint64_t FilteredRowCost(const std::uint8_t *filtered, std::size_t bytes);
