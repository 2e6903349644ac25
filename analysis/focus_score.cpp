#include "focus_score.h"

#include "byte_arithmetic.h"
#include "coverage_rows.h"
#include "pixel_rows.h"
#include "running_sums.h"
#include "vector_clones.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int SmallRadius = 3;
constexpr std::uint32_t LargestSquare = 255 * 255;

// out[j] = min(255, |p - right| + |p - below|) on each byte of a row of interleaved channels,
// the right-hand neighbour being step bytes on; the last pixel's bytes see only the row below.
// For the last row below is the row itself, so that the missing neighbour counts as equal.
EDGEDOM_VECTOR_CLONES void ChannelEdgeRow(const std::uint8_t *__restrict row, const std::uint8_t *__restrict below,
                                          std::uint8_t *__restrict out, int bytes, int step)
{
    const int last = std::max(bytes - step, 0);
    // Each byte but the last pixel's gets its right-hand and lower differences.
    for (int j = 0; j < last; ++j)
        out[j] = SaturatingSum(AbsoluteDifference(row[j], row[j + step]), AbsoluteDifference(row[j], below[j]));
    // The last pixel's bytes get their lower difference.
    for (int j = last; j < bytes; ++j)
        out[j] = AbsoluteDifference(row[j], below[j]);
}

// edges[x] = the largest of the blue, green and red edge strengths of pixel x: an edge between
// two colours of equal brightness is as strong as it is in the channel that shows it.
EDGEDOM_VECTOR_CLONES void LargestOfThree(const std::uint8_t *__restrict channels, std::uint8_t *__restrict edges,
                                          int width)
{
    // Each pixel gets the largest of its three bytes.
    for (int x = 0; x < width; ++x)
        edges[x] = std::max(std::max(channels[3 * x], channels[3 * x + 1]), channels[3 * x + 2]);
}

// sums[x] += entering[x]^2 - leaving[x]^2: the window's rows move down by one.
EDGEDOM_VECTOR_CLONES void SlideColumnSums(std::uint32_t *__restrict sums, const std::uint8_t *__restrict entering,
                                           const std::uint8_t *__restrict leaving, int width)
{
    // Each column gets the square of its entering edge added and that of its leaving one taken off.
    for (int x = 0; x < width; ++x)
        sums[x] += std::uint32_t{entering[x]} * entering[x] - std::uint32_t{leaving[x]} * leaving[x];
}

// scores[x] = the large window's sum x its factors + the small window's sum x its factors.
// Computed in float without fused multiply-adds (this file is built with -ffp-contract=off), so
// every CPU and both clones give the same bits.
EDGEDOM_VECTOR_CLONES void ScoreRow(const std::uint32_t *__restrict largePrefix, int largeSpan,
                                    const float *__restrict largeColumns, float largeRow,
                                    const std::uint32_t *__restrict smallPrefix, int smallSpan,
                                    const float *__restrict smallColumns, float smallRow, float *__restrict scores,
                                    int width)
{
    // Each pixel gets the mean of both windows, each scaled by its row's and its column's factor.
    for (int x = 0; x < width; ++x) {
        const auto large = static_cast<std::int32_t>(largePrefix[x + largeSpan] - largePrefix[x]);
        const auto small = static_cast<std::int32_t>(smallPrefix[x + smallSpan] - smallPrefix[x]);
        scores[x] = static_cast<float>(large) * largeColumns[x] * largeRow
                    + static_cast<float>(small) * smallColumns[x] * smallRow;
    }
}

// Pixels of the window of radius r around position p along a side of n pixels.
int PixelsAlong(int p, int r, int n) { return std::min(p + r, n - 1) - std::max(p - r, 0) + 1; }

} // namespace

int FocusScorer::LargeRadius(int width, int height) { return std::max(20, std::max(width, height) / 48); }

FocusScorer::FocusScorer(int width, int height)
    : width_(width), height_(height), ringRows_(2 * LargeRadius(width, height) + 2)
{
    InitWindow(large_, LargeRadius(width, height));
    InitWindow(small_, SmallRadius);
    const auto w = static_cast<std::size_t>(width);
    ring_.resize(static_cast<std::size_t>(ringRows_) * w);
    zeros_.assign(w, 0);
    channelEdges_.resize(3 * w);
    rounded_.resize(6 * w);
    covered_.resize(w);
    scores_.resize(w);
}

// The column factors 1 / pixels along the row, and the smallest shift that keeps the sum of
// the window's shifted column sums below 2^31.
void FocusScorer::InitWindow(Window &window, int radius)
{
    window.radius = radius;
    const long long side = 2LL * radius + 1;
    while (side * ((side * LargestSquare) >> window.shift) >= (1LL << 31))
        ++window.shift;
    window.columnSums.assign(static_cast<std::size_t>(width_), 0);
    window.prefix.resize(static_cast<std::size_t>(width_ + 2 * radius + 1));
    window.columnFactors.resize(static_cast<std::size_t>(width_));
    for (int x = 0; x < width_; ++x)
        window.columnFactors[x] = 1.0f / static_cast<float>(PixelsAlong(x, radius, width_));
}

void FocusScorer::Start(const TBitmap &shot, const TBitmap *coverage)
{
    shot_ = &shot;
    coverage_ = coverage;
    nextRow_ = edgeRowsDone_ = 0;
    // Each window starts holding the rows above its first centre row, rows 0 to radius - 1.
    for (Window *window : {&large_, &small_}) {
        std::fill(window->columnSums.begin(), window->columnSums.end(), 0u);
        for (int row = 0; row < std::min(window->radius, height_); ++row)
            SlideColumnSums(window->columnSums.data(), EdgeRow(row), zeros_.data(), width_);
    }
}

// The edges of row (0 <= row < height), computed on first request. The ring holds the rows
// from the large window's last leaving row to its entering one.
const std::uint8_t *FocusScorer::EdgeRow(int row)
{
    for (; edgeRowsDone_ <= row; ++edgeRowsDone_)
        ComputeEdgeRow(edgeRowsDone_, ring_.data() + static_cast<std::size_t>(edgeRowsDone_ % ringRows_) * width_);
    return ring_.data() + static_cast<std::size_t>(row % ringRows_) * width_;
}

void FocusScorer::ComputeEdgeRow(int row, std::uint8_t *edges)
{
    const std::uint8_t *pixels = shot_->ScanLine(row);
    const std::uint8_t *below = row + 1 < height_ ? shot_->ScanLine(row + 1) : pixels;
    if (shot_->PixelFormat() == pf48bit) { // edges of the 8-bit rounding, as in the shot's edge map
        RoundRowTo24(pixels, rounded_.data(), width_);
        RoundRowTo24(below, rounded_.data() + 3 * static_cast<std::size_t>(width_), width_);
        pixels = rounded_.data();
        below = rounded_.data() + 3 * static_cast<std::size_t>(width_);
    }
    if (shot_->PixelFormat() == pf8bit) {
        ChannelEdgeRow(pixels, below, edges, width_, 1);
    } else {
        ChannelEdgeRow(pixels, below, channelEdges_.data(), 3 * width_, 3);
        LargestOfThree(channelEdges_.data(), edges, width_);
    }
    if (coverage_ == nullptr)
        return;
    const std::uint8_t *mask = coverage_->ScanLine(row);
    CoveredNeighbourhood(row > 0 ? coverage_->ScanLine(row - 1) : mask, mask,
                         row + 1 < height_ ? coverage_->ScanLine(row + 1) : mask, covered_.data(), width_);
    // Each edge within one pixel of an uncovered pixel becomes 0.
    for (int x = 0; x < width_; ++x)
        edges[x] &= covered_[x];
}

// Moves the window's rows down to centre row y: row y + radius enters, row y - radius - 1 leaves.
void FocusScorer::Slide(Window &window, int y)
{
    const int entering = y + window.radius, leaving = y - window.radius - 1;
    if (entering >= height_ && leaving < 0)
        return;
    SlideColumnSums(window.columnSums.data(), entering < height_ ? EdgeRow(entering) : zeros_.data(),
                    leaving >= 0 ? EdgeRow(leaving) : zeros_.data(), width_);
}

const float *FocusScorer::NextRow()
{
    const int y = nextRow_++;
    Slide(large_, y); // first: its entering row is the furthest down, so the ring reaches it first
    Slide(small_, y);
    // The windows' sums are differences of running sums that wrap modulo 2^32; they are exact
    // because every window's sum is below 2^31.
    for (Window *window : {&large_, &small_})
        PaddedRunningSums(window->columnSums.data(), window->shift, window->prefix.data(), width_, window->radius);
    // 8 x mean = 8 x sum / (rows x columns); a shifted sum is scaled back up by 2^shift.
    const auto rowFactor = [&](const Window &window) {
        return static_cast<float>(8 << window.shift) / static_cast<float>(PixelsAlong(y, window.radius, height_));
    };
    ScoreRow(large_.prefix.data(), 2 * large_.radius + 1, large_.columnFactors.data(), rowFactor(large_),
             small_.prefix.data(), 2 * small_.radius + 1, small_.columnFactors.data(), rowFactor(small_),
             scores_.data(), width_);
    return scores_.data();
}
