#include "region_labelling.h"

#include "exception.h"

#include <climits>
#include <cstring>
#include <string>

RegionWork PrepareRegionBitmaps(TBitmap &dominanceMap, TBitmap &regionMap)
{
    const long long pixels = static_cast<long long>(dominanceMap.Width()) * dominanceMap.Height();
    if (pixels >= INT_MAX)
        throw Exception("The dominance map has " + std::to_string(pixels)
                        + " pixels, more than the " + std::to_string(INT_MAX - 1)
                        + " whose regions can be labelled. Use smaller pictures.");
    regionMap.SetPixelFormat(pf24bit);
    regionMap.SetSize(dominanceMap.Width(), dominanceMap.Height());
    dominanceMap.SetPixelFormat(pf24bit);
    // Each row's pixels are cleared to black; the padding after them is left alone.
    for (int y = 0; y < regionMap.Height(); ++y)
        std::memset(regionMap.ScanLine(y), 0, 3 * static_cast<std::size_t>(regionMap.Width()));
    return RegionWork{dominanceMap, regionMap, std::vector<std::int32_t>(static_cast<std::size_t>(pixels)), {}, {}, 0};
}

namespace {

// The root of label's set, halving the path on the way; roots are their set's smallest label.
std::int32_t Find(std::vector<std::int32_t> &parent, std::int32_t label)
{
    while (parent[label] != label) {
        parent[label] = parent[parent[label]];
        label = parent[label];
    }
    return label;
}

// Joins the sets of a and b under the smaller root and returns that root.
std::int32_t Union(std::vector<std::int32_t> &parent, std::int32_t a, std::int32_t b)
{
    const std::int32_t rootA = Find(parent, a), rootB = Find(parent, b);
    if (rootA < rootB) {
        parent[rootB] = rootA;
        return rootA;
    }
    parent[rootA] = rootB;
    return rootB;
}

std::int32_t NewLabel(RegionWork &work)
{
    const auto label = static_cast<std::int32_t>(work.parent.size());
    work.parent.push_back(label);
    work.sizes.push_back(0);
    return label;
}

// First pass: gives every pixel of class k a provisional label taken from its already
// labelled neighbours, joining their sets where they meet, and counts each label's pixels:
//     NW N NE
//     W  x
// Returns the number of pixels of the class.
long long ScanClass(RegionWork &work, int k)
{
    const int width = work.dominanceMap.Width(), height = work.dominanceMap.Height();
    const std::vector<std::int32_t> noRow(static_cast<std::size_t>(width) + 2, 0);
    long long classPixels = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *classes = work.dominanceMap.ScanLine(y);
        std::int32_t *row = work.labels.data() + static_cast<std::size_t>(y) * width;
        const std::int32_t *above = y > 0 ? row - width : noRow.data() + 1;
        for (int x = 0; x < width; ++x) {
            if (classes[3 * x] != k) {
                row[x] = 0;
                continue;
            }
            const std::int32_t w = x > 0 ? row[x - 1] : 0;
            const std::int32_t nw = x > 0 ? above[x - 1] : 0;
            const std::int32_t n = above[x];
            const std::int32_t ne = x + 1 < width ? above[x + 1] : 0;
            // N touches W and NW, so they are joined already; only NE may bring a new set.
            std::int32_t label;
            if (n != 0)
                label = n;
            else if (ne != 0)
                label = (w | nw) != 0 ? Union(work.parent, ne, w != 0 ? w : nw) : ne;
            else if (nw != 0 || w != 0)
                label = nw != 0 ? nw : w;
            else
                label = NewLabel(work);
            row[x] = label;
            ++work.sizes[label];
            ++classPixels;
        }
    }
    return classPixels;
}

// Points every label straight at its root and gathers each region's size there. Labels
// only ever point at smaller ones, so one ascending pass flattens the table.
void ResolveRegions(RegionWork &work)
{
    const auto count = static_cast<std::int32_t>(work.parent.size());
    for (std::int32_t label = 1; label < count; ++label) {
        const std::int32_t root = work.parent[work.parent[label]];
        work.parent[label] = root;
        if (root != label)
            work.sizes[root] += work.sizes[label];
    }
}

} // namespace

int LabelClassRegions(RegionWork &work, int k, const ShowMessageFn &showMessage)
{
    work.parent.assign(1, 0);
    work.sizes.assign(1, 0);
    work.pixelCounter += ScanClass(work, k);
    const int n = static_cast<int>(work.pixelCounter);
    showMessage("We get max =" + std::to_string(n));
    ResolveRegions(work);
    return n;
}
