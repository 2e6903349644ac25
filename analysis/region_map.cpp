#include "region_map.h"

#include "region_painting.h"

void ComputeRegionMap(TBitmap &dominanceMap, TBitmap &regionMap, const ShowMessageFn &showMessage,
                      const std::function<void()> &regionMapPainted, int classCount)
{
    RegionWork work = PrepareRegionBitmaps(dominanceMap, regionMap, classCount);
    for (int k = 1; k <= classCount; ++k) {
        LabelClassRegions(work, k, showMessage);
        PaintLargeRegions(work, k);
        if (regionMapPainted)
            regionMapPainted();
    }
}
