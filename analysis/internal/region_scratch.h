// The scratch of one region-map command, shared by the labeller (region_labelling.cpp) and
// the painter (region_painting.cpp) and seen by no other code: the folder is on the analysis
// library's private include path only.
#pragma once

#include "bitmap.h"
#include "pixel_buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The label buffer holds one 32-bit provisional label per pixel (0: no class); the union-find
// table maps each provisional label to its region's smallest label and records the label's
// class and pixel count. Once the regions are known, the label buffer holds instead one byte
// per pixel: the grey the pixel is painted in (50 x class for a kept region, else 0).
// The most classes a region map tells apart: their greys, 50 x class, must fit a byte.
constexpr int MostRegionClasses = 5;

struct RegionScratch {
    TBitmap &dominanceMap;
    TBitmap &regionMap;
    PixelBuffer labelBuffer;
    PixelBuffer tableBuffer;               // holds the three arrays below, room for a label per pixel
    std::int32_t *parent = nullptr;
    std::int32_t *sizes = nullptr;
    std::uint8_t *labelClass = nullptr;
    std::int32_t labelCount = 0;           // labels made so far, label 0 (no class) included
    int classCount = 3;                    // classes 1 to classCount; any other byte is no class
    std::array<long long, MostRegionClasses + 1> classPixels{}; // pixels of each class (index 0 unused)
    long long pixelCounter = 0;
    bool labelled = false;

    std::int32_t *Labels(int row)
    {
        return reinterpret_cast<std::int32_t *>(labelBuffer.data()) + static_cast<std::size_t>(row) * dominanceMap.Width();
    }
    const std::uint8_t *Greys(int row) const
    {
        return labelBuffer.data() + static_cast<std::size_t>(row) * dominanceMap.Width();
    }
};
