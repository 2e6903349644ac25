// Region labelling: finds the 8-connected regions of one class of a dominance map with a
// two-pass union-find scan, gathering each region's pixel count on the way, so that the
// painter can keep the regions that are large compared with the class's largest.
#pragma once

#include "bitmap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using ShowMessageFn = std::function<void(const std::string &)>;

// The bitmaps and scratch of one region-map command. The label buffer holds one 32-bit
// provisional label per pixel (0: not of the class being labelled); the union-find table
// maps each provisional label to its region's smallest label and holds region sizes.
struct RegionWork {
    TBitmap &dominanceMap;
    TBitmap &regionMap;
    std::vector<std::int32_t> labels;
    std::vector<std::int32_t> parent;
    std::vector<std::int32_t> sizes;
    long long pixelCounter = 0;
};

// Sets the dominance map to pf24bit, gives the region map the dominance map's size in
// pf24bit with every byte 0, and allocates the label buffer. Raises an Exception for a map
// of 2^31 pixels or more, whose labels would not fit 32 bits.
RegionWork PrepareRegionBitmaps(TBitmap &dominanceMap, TBitmap &regionMap);

// Labels the 8-connected regions of the pixels whose byte 0 equals k (1, 2 or 3), border
// pixels included, and resolves each region's size. Between the scan and the resolution
// it adds the class's pixels to the pixel counter and shows "We get max =N", N being the
// pixels of all classes labelled so far in this command. Returns N.
int LabelClassRegions(RegionWork &work, int k, const ShowMessageFn &showMessage);
