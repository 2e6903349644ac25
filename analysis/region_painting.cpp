#include "region_painting.h"

#include <cstdint>

void PaintLargeRegions(RegionWork &work, int k)
{
    const auto classGrey = static_cast<std::uint8_t>(50 * k);
    const int width = work.regionMap.Width();
    for (int y = 0; y < work.regionMap.Height(); ++y) {
        const std::uint8_t *__restrict greys = work.Greys(y);
        std::uint8_t *__restrict out = work.regionMap.ScanLine(y);
        // Each pixel gets its grey when its class is k or an earlier one, else 0.
        for (int x = 0; x < width; ++x) {
            const std::uint8_t grey = greys[x] <= classGrey ? greys[x] : 0;
            out[3 * x] = grey;
            out[3 * x + 1] = grey;
            out[3 * x + 2] = grey;
        }
    }
}
