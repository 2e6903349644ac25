#include "region_map.h"

#include "region_painting.h"

void ComputeRegionMap(TBitmap &dominanceMap, TBitmap &regionMap, const ShowMessageFn &showMessage,
                      const std::function<void()> &regionMapPainted)
{
    RegionWork work = PrepareRegionBitmaps(dominanceMap, regionMap);
    for (int k = 1; k <= 3; ++k) {
        LabelClassRegions(work, k, showMessage);
        PaintLargeRegions(work, k);
        if (regionMapPainted)
            regionMapPainted();
    }
}
