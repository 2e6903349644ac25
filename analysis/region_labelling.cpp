#include "region_labelling.h"

#include "exception.h"
#include "region_scratch.h"
#include "vector_clones.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

RegionWork::RegionWork(std::unique_ptr<RegionScratch> scratch) : scratch_(std::move(scratch)) {}
RegionWork::RegionWork(RegionWork &&) noexcept = default;
RegionWork &RegionWork::operator=(RegionWork &&) noexcept = default;
RegionWork::~RegionWork() = default;

RegionWork PrepareRegionBitmaps(TBitmap &dominanceMap, TBitmap &regionMap, int classCount)
{
    if (classCount < 2 || classCount > MostRegionClasses)
        throw Exception("A region map tells 2 to " + std::to_string(MostRegionClasses) + " classes apart, not "
                        + std::to_string(classCount) + ": compare 2 to " + std::to_string(MostRegionClasses)
                        + " pictures.");
    const long long pixels = static_cast<long long>(dominanceMap.Width()) * dominanceMap.Height();
    if (pixels >= INT_MAX)
        throw Exception("The dominance map has " + std::to_string(pixels) + " pixels, more than the "
                        + std::to_string(INT_MAX - 1) + " whose regions can be labelled. Use smaller pictures.");
    regionMap.SetPixelFormat(pf24bit);
    regionMap.SetSize(dominanceMap.Width(), dominanceMap.Height());
    dominanceMap.SetPixelFormat(pf24bit);
    // Each row's pixels are cleared to black; the padding after them is left alone.
    for (int y = 0; y < regionMap.Height() && regionMap.Width() > 0; ++y)
        std::memset(regionMap.ScanLine(y), 0, 3 * static_cast<std::size_t>(regionMap.Width()));
    auto scratch = std::unique_ptr<RegionScratch>(new RegionScratch{
        dominanceMap, regionMap, PixelBuffer(static_cast<std::size_t>(pixels) * sizeof(std::int32_t)), PixelBuffer()});
    scratch->classCount = classCount;
    return RegionWork(std::move(scratch));
}

namespace {

// The root of label's set, halving the path on the way; roots are their set's smallest label.
std::int32_t Find(std::int32_t *parent, std::int32_t label)
{
    while (parent[label] != label) {
        parent[label] = parent[parent[label]];
        label = parent[label];
    }
    return label;
}

// Joins the sets of a and b under the smaller root and returns that root.
std::int32_t Union(std::int32_t *parent, std::int32_t a, std::int32_t b)
{
    const std::int32_t rootA = Find(parent, a), rootB = Find(parent, b);
    if (rootA < rootB) {
        parent[rootB] = rootA;
        return rootA;
    }
    parent[rootA] = rootB;
    return rootB;
}

// Makes room for the most labels a map can need, one per pixel and label 0, in one buffer
// that never moves; its memory is only taken as labels are made. Label 0 stands for no class.
void AllocateLabelTable(RegionScratch &work)
{
    const std::size_t mostLabels = static_cast<std::size_t>(work.dominanceMap.Width()) * work.dominanceMap.Height() + 1;
    work.tableBuffer = PixelBuffer(mostLabels * (2 * sizeof(std::int32_t) + 1));
    work.parent = reinterpret_cast<std::int32_t *>(work.tableBuffer.data());
    work.sizes = work.parent + mostLabels;
    work.labelClass = reinterpret_cast<std::uint8_t *>(work.sizes + mostLabels);
    work.labelCount = 1;
}

std::int32_t NewLabel(RegionScratch &work, std::uint8_t pixelClass)
{
    const std::int32_t label = work.labelCount++;
    work.parent[label] = label;
    work.labelClass[label] = pixelClass;
    return label;
}

// classes[x] = byte 0 of dominance pixel x when it is a class (1 to classCount), else 0.
EDGEDOM_VECTOR_CLONES void ClassRow(const std::uint8_t *dominance, std::uint8_t *classes, int width, int classCount)
{
    for (int x = 0; x < width; ++x) {
        const std::uint8_t value = dominance[3 * x];
        classes[x] = value >= 1 && value <= classCount ? value : 0;
    }
}

// First pass: gives every pixel of a class a provisional label taken from its already
// labelled neighbours of the same class, joining their sets where they meet, and counts
// each label's pixels:
//     NW N NE
//     W  x
// The class rows carry a 0 on either side, so the neighbours outside the map are no class.
void ScanAllClasses(RegionScratch &work)
{
    const int width = work.dominanceMap.Width(), height = work.dominanceMap.Height();
    std::vector<std::uint8_t> rowA(static_cast<std::size_t>(width) + 2, 0), rowB(rowA);
    std::uint8_t *cur = rowA.data() + 1, *above = rowB.data() + 1;
    for (int y = 0; y < height; ++y) {
        ClassRow(work.dominanceMap.ScanLine(y), cur, width, work.classCount);
        std::int32_t *lab = work.Labels(y);
        const std::int32_t *labAbove = y > 0 ? work.Labels(y - 1) : lab; // read only where above[] matches
        for (int x = 0; x < width; ++x) {
            const std::uint8_t c = cur[x];
            std::int32_t label;
            // N touches W and NW, and W touches NW, so those pairs are joined already.
            if (c == 0)
                label = 0;
            else if (above[x] == c)
                label = labAbove[x];
            else if (above[x + 1] == c) {
                label = labAbove[x + 1];
                if (cur[x - 1] == c)
                    label = Union(work.parent, label, lab[x - 1]);
                else if (above[x - 1] == c)
                    label = Union(work.parent, label, labAbove[x - 1]);
            } else if (above[x - 1] == c)
                label = labAbove[x - 1];
            else if (cur[x - 1] == c)
                label = lab[x - 1];
            else
                label = NewLabel(work, c);
            lab[x] = label;
            ++work.sizes[label];
        }
        std::swap(cur, above);
    }
}

// Points every label straight at its root and gathers region sizes there and the class
// counts. Labels only ever point at smaller ones, so one ascending pass flattens the table.
void ResolveRegions(RegionScratch &work)
{
    for (std::int32_t label = 1; label < work.labelCount; ++label) {
        work.classPixels[work.labelClass[label]] += work.sizes[label];
        const std::int32_t root = work.parent[work.parent[label]];
        work.parent[label] = root;
        if (root != label)
            work.sizes[root] += work.sizes[label];
    }
}

// The grey each label paints: 50 x class when its region holds at least max(1, L / 40)
// pixels, L being the largest region of the same class; else 0 (label 0 included).
std::vector<std::uint8_t> KeptGreys(const RegionScratch &work)
{
    const auto count = static_cast<std::size_t>(work.labelCount);
    std::array<std::int32_t, MostRegionClasses + 1> largest{};
    for (std::size_t label = 1; label < count; ++label)
        largest[work.labelClass[label]] = std::max(largest[work.labelClass[label]], work.sizes[label]);
    std::vector<std::uint8_t> greys(count, 0);
    for (std::size_t label = 1; label < count; ++label) {
        const int pixelClass = work.labelClass[label];
        if (work.sizes[work.parent[label]] >= std::max(largest[pixelClass] / 40, 1))
            greys[label] = static_cast<std::uint8_t>(50 * pixelClass);
    }
    return greys;
}

// Replaces each pixel's label by the grey it paints, one byte per pixel from the start of
// the label buffer. Byte i lies within label i's four bytes or before them, so it is
// written only after that label has been read.
void LabelsToGreys(RegionScratch &work)
{
    const std::vector<std::uint8_t> greyOf = KeptGreys(work);
    const std::size_t pixels = static_cast<std::size_t>(work.dominanceMap.Width()) * work.dominanceMap.Height();
    const std::int32_t *labels = work.Labels(0);
    std::uint8_t *greys = work.labelBuffer.data();
    for (std::size_t i = 0; i < pixels; ++i)
        greys[i] = greyOf[labels[i]];
}

} // namespace

int LabelClassRegions(RegionWork &regionWork, int k, const ShowMessageFn &showMessage)
{
    RegionScratch &work = regionWork.Scratch();
    if (!work.labelled) {
        AllocateLabelTable(work);
        ScanAllClasses(work);
        ResolveRegions(work);
        LabelsToGreys(work);
        work.labelled = true;
    }
    work.pixelCounter += work.classPixels[k];
    const int n = static_cast<int>(work.pixelCounter);
    showMessage("We get max =" + std::to_string(n));
    return n;
}
