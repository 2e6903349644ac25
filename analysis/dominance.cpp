#include "dominance.h"

#include "exception.h"
#include "pixel_rows.h"
#include "stack_limits.h"
#include "vector_clones.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

void RequireAtLeastFirstSize(const TBitmap &first, const TBitmap &other, const char *which)
{
    if (other.Width() >= first.Width() && other.Height() >= first.Height())
        return;
    throw Exception(std::string("The ") + which + " picture (" + SizeText(other)
                    + ") is smaller than the first (" + SizeText(first)
                    + "). The dominance map compares the pictures pixel by pixel: load "
                      "three pictures of the same size.");
}

// The source's pf8bit bytes: the source itself when it is pf8bit already, else a
// converted copy kept in storage.
const TBitmap &GreyBytes(const TBitmap &source, TBitmap &storage)
{
    if (source.PixelFormat() == pf8bit)
        return source;
    storage.Assign(source);
    storage.SetPixelFormat(pf8bit);
    return storage;
}

// strict[x] = the class whose value is strictly the largest at x, or 0 on a tie.
void StrictClassRow(const std::uint8_t *p1, const std::uint8_t *p2, const std::uint8_t *p3,
                    std::uint8_t *strict, int width)
{
    for (int x = 0; x < width; ++x) {
        const int a = p1[x], b = p2[x], c = p3[x];
        strict[x] = static_cast<std::uint8_t>((a > b && a > c) * 1 | (b > a && b > c) * 2
                                              | (c > a && c > b) * 3);
    }
}

// Sixteen pixels' classes, handled at once so that carrying classes over ties needs no
// branch per pixel: a tie pattern that changes from pixel to pixel defeats prediction.
using Block = std::uint8_t __attribute__((vector_size(16)));

// Lane i gets lane i - n of v, lanes below n get 0.
template <int n, std::size_t... lane>
Block ShiftedUp(Block v, std::index_sequence<lane...>)
{
    return __builtin_shufflevector(Block{}, v, (16 + static_cast<int>(lane) - n)...);
}

template <int n>
Block ShiftedUp(Block v)
{
    return ShiftedUp<n>(v, std::make_index_sequence<16>());
}

Block FillTiesFrom(Block v, Block from) { return v == 0 ? from : v; }

} // namespace

std::uint8_t CarryClassesOverTiesPlain(std::uint8_t *strict, int width, std::uint8_t running)
{
    // Each tie gets the running class; a strict pixel keeps its class and becomes the running one.
    for (int x = 0; x < width; ++x) {
        running = strict[x] != 0 ? strict[x] : running;
        strict[x] = running;
    }
    return running;
}

// What CarryClassesOverTiesPlain computes, sixteen pixels at a time. In a block, four steps
// carry each class 1, 2, 4 and 8 places to the right, over ties only, so that each tie holds
// the class of the last strict pixel before it in the block; the ties before the block's
// first strict pixel then take the running class. The block hands on its last class, or the
// running class when it is all ties, so blocks need not wait for one another. The pixels
// after the last whole block go through the plain loop.
EDGEDOM_VECTOR_CLONES std::uint8_t CarryClassesOverTies(std::uint8_t *strict, int width, std::uint8_t running)
{
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        Block v;
        std::memcpy(&v, strict + x, sizeof v);
        v = FillTiesFrom(v, ShiftedUp<1>(v));
        v = FillTiesFrom(v, ShiftedUp<2>(v));
        v = FillTiesFrom(v, ShiftedUp<4>(v));
        v = FillTiesFrom(v, ShiftedUp<8>(v));
        const std::uint8_t lastClass = v[15];
        v = FillTiesFrom(v, Block{} + running);
        std::memcpy(strict + x, &v, sizeof v);
        running = static_cast<std::uint8_t>(lastClass | (running & -(lastClass == 0))); // no branch
    }
    return CarryClassesOverTiesPlain(strict + x, width - x, running);
}

namespace {

// One row of the map from the three grey rows: the strict classes into classes, carried over
// ties from the running class, then spread into the map row's pixels. Returns the running
// class after the row.
EDGEDOM_VECTOR_CLONES std::uint8_t DominanceRow(const std::uint8_t *p1, const std::uint8_t *p2, const std::uint8_t *p3,
                                                std::uint8_t *classes, std::uint8_t *pixels, int width,
                                                std::uint8_t running)
{
    StrictClassRow(p1, p2, p3, classes, width);
    running = CarryClassesOverTies(classes, width, running);
    SpreadToThreeBytes(classes, pixels, width);
    return running;
}

} // namespace

TBitmap ComputeDominanceMap(const TBitmap &first, const TBitmap &second, const TBitmap &third)
{
    RequireAtLeastFirstSize(first, second, "second");
    RequireAtLeastFirstSize(first, third, "third");

    TBitmap copies[3];
    const TBitmap &grey1 = GreyBytes(first, copies[0]);
    const TBitmap &grey2 = GreyBytes(second, copies[1]);
    const TBitmap &grey3 = GreyBytes(third, copies[2]);

    TBitmap map;
    map.SetPixelFormat(pf24bit);
    map.SetSize(first.Width(), first.Height());
    const int width = map.Width();
    std::vector<std::uint8_t> classes(static_cast<std::size_t>(width));
    std::uint8_t running = 0;
    for (int y = 0; y < map.Height(); ++y)
        running = DominanceRow(grey1.ScanLine(y), grey2.ScanLine(y), grey3.ScanLine(y), classes.data(), map.ScanLine(y),
                               width, running);
    return map;
}

DominanceFold::DominanceFold(int width, int height) : width_(width), height_(height)
{
    if (width < 0 || height < 0)
        throw Exception("Cannot compare maps of " + SizeText(width, height)
                        + ": width and height must not be negative.");
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    largest_.resize(pixels);
    strict_.resize(pixels);
}

namespace {

// Where value is above largest, map k becomes the strict class; where equal, a tie (0). Byte
// masks instead of branches, so that the loop runs on vectors.
EDGEDOM_VECTOR_CLONES void FoldStrictClassRow(const std::uint8_t *__restrict values, std::uint8_t *__restrict largest,
                                              std::uint8_t *__restrict strict, std::uint8_t k, int width)
{
    // Each pixel keeps its largest value and the class that holds it strictly, 0 on a tie.
    for (int x = 0; x < width; ++x) {
        const std::uint8_t value = values[x], old = largest[x];
        const auto above = static_cast<std::uint8_t>(-(value > old)), equal = static_cast<std::uint8_t>(-(value == old));
        strict[x] = static_cast<std::uint8_t>((k & above) | (strict[x] & ~(above | equal)));
        largest[x] = std::max(value, old);
    }
}

} // namespace

void DominanceFold::Add(const TBitmap &edgeMap, const TBitmap *coverage)
{
    if (maps_ == MaxShots)
        throw Exception("A dominance map compares at most " + std::to_string(MaxShots)
                        + " pictures: compare fewer at once.");
    if (edgeMap.PixelFormat() != pf8bit)
        throw Exception("An edge strength map must be 8-bit grey to be compared.");
    if (edgeMap.Width() < width_ || edgeMap.Height() < height_)
        throw Exception("Picture " + std::to_string(maps_ + 1) + " (" + SizeText(edgeMap) + ") is smaller than "
                        "the first (" + SizeText(width_, height_) + "). The dominance map compares the pictures pixel by pixel: load pictures of "
                          "the same size.");
    if (coverage != nullptr && (coverage->PixelFormat() != pf8bit || coverage->Width() < width_
                                || coverage->Height() < height_))
        throw Exception("A picture's coverage must be an 8-bit mask at least as large as its edge strength map.");
    coverageOf_.push_back(coverage != nullptr ? static_cast<int>(coveredRuns_.size() / std::max(height_, 1)) : -1);
    // Each row gets its first and last covered column (an empty run: first after last).
    for (int y = 0; coverage != nullptr && y < height_; ++y) {
        const std::uint8_t *mask = coverage->ScanLine(y);
        int first = 0, last = width_ - 1;
        while (first < width_ && mask[first] == 0)
            ++first;
        while (last >= first && mask[last] == 0)
            --last;
        coveredRuns_.emplace_back(first, last);
    }
    ++maps_;
    for (int y = 0; y < height_ && width_ > 0; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * width_;
        if (maps_ == 1) {
            std::copy_n(edgeMap.ScanLine(y), width_, largest_.data() + at);
            std::fill_n(strict_.data() + at, width_, 1);
        } else {
            FoldStrictClassRow(edgeMap.ScanLine(y), largest_.data() + at, strict_.data() + at,
                               static_cast<std::uint8_t>(maps_), width_);
        }
    }
}

TBitmap DominanceFold::Result() const
{
    if (maps_ == 0)
        throw Exception("No edge strength map has been added: there is nothing to compare.");
    TBitmap map;
    map.SetPixelFormat(pf24bit);
    map.SetSize(width_, height_);
    std::vector<std::uint8_t> classes(static_cast<std::size_t>(width_));
    const bool anyCoverage = !coveredRuns_.empty();
    std::uint8_t running = 0;
    for (int y = 0; y < height_ && width_ > 0; ++y) {
        std::copy_n(strict_.data() + static_cast<std::size_t>(y) * width_, width_, classes.data());
        if (!anyCoverage) {
            running = CarryClassesOverTies(classes.data(), width_, running);
        } else {
            // Each tie gets the class before it, or class 1 where that map does not cover it.
            for (int x = 0; x < width_; ++x) {
                if (classes[x] == 0 && running != 0 && !Covers(running, x, y))
                    running = 1;
                running = classes[x] != 0 ? classes[x] : running;
                classes[x] = running;
            }
        }
        SpreadToThreeBytes(classes.data(), map.ScanLine(y), width_);
    }
    return map;
}

bool DominanceFold::Covers(int k, int x, int y) const
{
    const int runs = coverageOf_[static_cast<std::size_t>(k - 1)];
    if (runs < 0)
        return true;
    const auto [first, last] = coveredRuns_[static_cast<std::size_t>(runs) * height_ + y];
    return x >= first && x <= last;
}
