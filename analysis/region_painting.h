// Region painting: keeps the regions of one class that hold at least a fortieth of the
// pixels of the class's largest region, and paints them into the region map in the
// class's grey level, so that small specks drop out and the large areas remain.
#pragma once

#include "region_labelling.h"

// After LabelClassRegions(work, k): with L the largest region's size (0 when the class has
// no pixel) and T = L / 40, paints every region of at least max(T, 1) pixels with 50 x k in
// all three bytes of the region map. Other pixels of the region map are left as they are.
void PaintLargeRegions(RegionWork &work, int k);
