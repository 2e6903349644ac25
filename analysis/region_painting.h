// Region painting: paints the regions of one class that hold at least a fortieth of the
// pixels of the class's largest region into the region map, in the class's grey level,
// so that small specks drop out and the large areas remain.
#pragma once

#include "region_labelling.h"

// After LabelClassRegions: paints every kept region of class k (1, 2 or 3) with 50 x k in
// all three bytes of the region map. Other pixels of the region map are left as they are.
void PaintLargeRegions(RegionWork &work, int k);
