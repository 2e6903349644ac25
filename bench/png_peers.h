// The PNG writers and readers EncodePng and TPicture are measured against: Qt's (libpng and
// zlib, what TPicture used for PNG before), libspng, and zlib and libdeflate at a low level
// under our own row filter. Each writer returns the file's bytes.
#pragma once

#include "bitmap.h"
#include "png_filters.h"

#include <cstdint>
#include <string>
#include <vector>

// QImageWriter as TPicture wrote PNG before: libpng's adaptive filter, zlib's default level.
std::vector<std::uint8_t> QtPng(const TBitmap &bitmap);

// libspng at zlib's level, choosing every row's filter among all five (its default).
std::vector<std::uint8_t> SpngPng(const TBitmap &bitmap, int level);

// zlib's deflate at level, row by row as the rows are filtered with filter.
std::vector<std::uint8_t> ZlibPng(const TBitmap &bitmap, int level, PngFilter filter);

// libdeflate at level (1 to 12) in one call over all rows filtered with filter, which it
// needs in memory at once.
std::vector<std::uint8_t> LibdeflatePng(const TBitmap &bitmap, int level, PngFilter filter);

// True when Qt's reader decodes the PNG file to the bitmap's pixels, and to as many.
bool QtDecodesTo(const std::vector<std::uint8_t> &file, const TBitmap &bitmap);

// A PNG file decoded by Qt's reader alone, into the image it makes; returns its pixel count.
long long QtDecodePng(const std::string &fileName);

// A PNG file of 8-bit grey or 8- or 16-bit RGB decoded by libspng into the bitmap TPicture
// would load (pf8bit, pf24bit, pf48bit), blue, green and red in their places.
TBitmap SpngReadPng(const std::string &fileName);
