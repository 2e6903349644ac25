#include "region_painting.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The grey level each provisional label paints: 50 x k for labels of kept regions, 0 for
// the others (label 0 included).
std::vector<std::uint8_t> KeptGreyTable(const RegionWork &work, int k)
{
    std::int32_t largest = 0;
    for (std::size_t label = 1; label < work.parent.size(); ++label)
        largest = std::max(largest, work.sizes[label]);
    const std::int32_t threshold = std::max(largest / 40, 1);
    const auto grey = static_cast<std::uint8_t>(50 * k);

    std::vector<std::uint8_t> table(work.parent.size(), 0);
    for (std::size_t label = 1; label < table.size(); ++label)
        table[label] = work.sizes[work.parent[label]] >= threshold ? grey : 0;
    return table;
}

} // namespace

void PaintLargeRegions(RegionWork &work, int k)
{
    const std::vector<std::uint8_t> greyOf = KeptGreyTable(work, k);
    const int width = work.regionMap.Width();
    for (int y = 0; y < work.regionMap.Height(); ++y) {
        const std::int32_t *labels = work.labels.data() + static_cast<std::size_t>(y) * width;
        std::uint8_t *out = work.regionMap.ScanLine(y);
        // Each pixel of a kept region gets the class's grey; every other pixel stays as it is.
        for (int x = 0; x < width; ++x) {
            const std::uint8_t grey = greyOf[labels[x]];
            if (grey != 0)
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = grey;
        }
    }
}
