// Region labelling: finds the 8-connected regions of the classes of a dominance map
// in one two-pass union-find scan, gathering each region's pixel count on the way, so
// that the painter can keep the regions that are large compared with their class's largest.
#pragma once

#include "bitmap.h"

#include <functional>
#include <memory>
#include <string>

using ShowMessageFn = std::function<void(const std::string &)>;

struct RegionScratch; // internal/region_scratch.h, seen by the region functions only

// The bitmaps and scratch of one region-map command, from PrepareRegionBitmaps to the end of
// the command: the maps, a label per pixel and the regions' sizes. Only LabelClassRegions
// and PaintLargeRegions look inside.
class RegionWork {
public:
    explicit RegionWork(std::unique_ptr<RegionScratch> scratch);
    RegionWork(RegionWork &&) noexcept;
    RegionWork &operator=(RegionWork &&) noexcept;
    ~RegionWork();

    RegionScratch &Scratch() noexcept { return *scratch_; }

private:
    std::unique_ptr<RegionScratch> scratch_;
};

// Sets the dominance map to pf24bit, gives the region map the dominance map's size in
// pf24bit with every byte 0, and allocates the label buffer, for a map of classes 1 to
// classCount (2 to 5). Raises an Exception for another class count, and for a map of 2^31
// pixels or more, whose labels would not fit 32 bits.
RegionWork PrepareRegionBitmaps(TBitmap &dominanceMap, TBitmap &regionMap, int classCount = 3);

// Reports class k (1 to the class count): adds its pixels to the pixel counter and shows
// "We get max =N", N being the pixels of classes 1 to k; returns N. The regions of all
// classes (pixels whose byte 0 is 1 to the class count, border pixels included) are labelled
// in one scan at the first call of a command, and each kept or dropped by the fortieth rule.
int LabelClassRegions(RegionWork &work, int k, const ShowMessageFn &showMessage);
