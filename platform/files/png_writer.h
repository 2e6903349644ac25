// PNG files encoded in memory with ISA-L's igzip: the rows are filtered and deflated a band at
// a time at a low level, several times faster than libpng with zlib at its default level, for
// files a little larger (README, "Speed"). Plain C++ over TBitmap.
#pragma once

#include "bitmap.h"
#include "png_filters.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// How EncodePng filters and compresses. The defaults are the choice measured best
// (bench/png_write_bench.cpp); the others are there to be measured beside it.
struct PngEncoding {
    bool adaptive = false;               // each row with the filter of the least FilteredRowCost,
    PngFilter filter = PngFilter::Paeth; // else every row with this one
    int level = 1;                       // igzip's compression level, 1 (fastest) to 3
};

// Memory for the file: given the most bytes the file can take, returns where to write them.
using PngOutput = std::function<std::uint8_t *(std::size_t maxBytes)>;

// Encodes the bitmap as a PNG file into the memory output gives and returns the file's size.
// pf8bit becomes 8-bit grey (colour type 0), pf24bit 8-bit RGB and pf48bit 16-bit RGB (colour
// type 2), not interlaced; a non-empty iccProfile goes into an iCCP chunk as it is, whatever
// the format (the caller knows which profiles suit). Raises std::bad_alloc when memory runs
// out; the bitmap must not be empty.
std::size_t EncodePng(const TBitmap &bitmap, std::span<const std::uint8_t> iccProfile, const PngOutput &output,
                      const PngEncoding &encoding = {});
