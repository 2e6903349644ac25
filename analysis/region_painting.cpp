#include "region_painting.h"

#include <cstdint>

void PaintLargeRegions(RegionWork &work, int k)
{
    const auto classGrey = static_cast<std::uint8_t>(50 * k);
    const std::uint8_t *greyOf = work.greyOfLabel.data();
    const int width = work.regionMap.Width();
    for (int y = 0; y < work.regionMap.Height(); ++y) {
        const std::int32_t *labels = work.Labels(y);
        std::uint8_t *out = work.regionMap.ScanLine(y);
        // Each pixel of a kept region of class k gets the class's grey; others stay as they are.
        for (int x = 0; x < width; ++x)
            if (greyOf[labels[x]] == classGrey)
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = classGrey;
    }
}
