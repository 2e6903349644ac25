#include "region_painting.h"

#include "pixel_rows.h"
#include "region_scratch.h"
#include "vector_clones.h"

#include <cstdint>

namespace {

// Each pixel gets its grey when that is at most classGrey (its class is painted so far), else 0.
EDGEDOM_VECTOR_CLONES void PaintRow(const std::uint8_t *greys, std::uint8_t *pixels, int width, std::uint8_t classGrey)
{
    SpreadToThreeBytes(greys, pixels, width, [classGrey](std::uint8_t grey) -> std::uint8_t { return grey <= classGrey ? grey : 0; });
}

} // namespace

void PaintLargeRegions(RegionWork &work, int k)
{
    const RegionScratch &scratch = work.Scratch();
    for (int y = 0; y < scratch.regionMap.Height(); ++y)
        PaintRow(scratch.Greys(y), scratch.regionMap.ScanLine(y), scratch.regionMap.Width(), static_cast<std::uint8_t>(50 * k));
}
