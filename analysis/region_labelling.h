// Region labelling: finds the 8-connected regions of the three classes of a dominance map
// in one two-pass union-find scan, gathering each region's pixel count on the way, so
// that the painter can keep the regions that are large compared with their class's largest.
#pragma once

#include "bitmap.h"
#include "pixel_buffer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using ShowMessageFn = std::function<void(const std::string &)>;

// The bitmaps and scratch of one region-map command. The label buffer holds one 32-bit
// provisional label per pixel (0: no class); the union-find table maps each provisional
// label to its region's smallest label and records the label's class and pixel count.
// Once the regions are known, the label buffer holds instead one byte per pixel: the grey
// the pixel is painted in (50 x class for a kept region, else 0).
struct RegionWork {
    TBitmap &dominanceMap;
    TBitmap &regionMap;
    PixelBuffer labelBuffer;
    PixelBuffer tableBuffer;               // holds the three arrays below, room for a label per pixel
    std::int32_t *parent = nullptr;
    std::int32_t *sizes = nullptr;
    std::uint8_t *labelClass = nullptr;
    std::int32_t labelCount = 0;           // labels made so far, label 0 (no class) included
    std::array<long long, 4> classPixels{}; // pixels of class 1, 2, 3 (index 0 unused)
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

// Sets the dominance map to pf24bit, gives the region map the dominance map's size in
// pf24bit with every byte 0, and allocates the label buffer. Raises an Exception for a map
// of 2^31 pixels or more, whose labels would not fit 32 bits.
RegionWork PrepareRegionBitmaps(TBitmap &dominanceMap, TBitmap &regionMap);

// Reports class k (1, 2 or 3): adds its pixels to the pixel counter and shows
// "We get max =N", N being the pixels of classes 1 to k; returns N. The regions of all
// classes (pixels whose byte 0 is 1, 2 or 3, border pixels included) are labelled in one
// scan at the first call of a command, and each kept or dropped by the fortieth rule.
int LabelClassRegions(RegionWork &work, int k, const ShowMessageFn &showMessage);
