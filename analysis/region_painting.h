// Region painting: paints the regions of one class that hold at least a fortieth of the
// pixels of the class's largest region into the region map, in the class's grey level,
// so that small specks drop out and the large areas remain.
#pragma once

#include "region_labelling.h"

// After LabelClassRegions, called for k = 1, 2, ... in turn: paints every kept region of
// classes 1 to k with 50 x its class in all three bytes of the region map; every other
// pixel is 0. Each call so adds the regions of class k to those painted before.
void PaintLargeRegions(RegionWork &work, int k);
