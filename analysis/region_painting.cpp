#include "region_painting.h"

#include "pixel_rows.h"
#include "region_scratch.h"

#include <cstdint>

void PaintLargeRegions(RegionWork &work, int k)
{
    const RegionScratch &scratch = work.Scratch();
    const auto classGrey = static_cast<std::uint8_t>(50 * k);
    const auto paintedSoFar = [classGrey](std::uint8_t grey) -> std::uint8_t { return grey <= classGrey ? grey : 0; };
    // Each pixel gets its grey when its class is k or an earlier one, else 0.
    for (int y = 0; y < scratch.regionMap.Height(); ++y)
        SpreadToThreeBytes(scratch.Greys(y), scratch.regionMap.ScanLine(y), scratch.regionMap.Width(), paintedSoFar);
}
