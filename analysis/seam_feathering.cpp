// The last step of a focus stack: blends the two best colours of the pixels near a seam, where
// areas won by different shots meet, and copies the best colour everywhere else.
#include "focus_fold.h"

#include <algorithm>

namespace {

constexpr int FeatherRadius = 5;

// counts[x * labels + the shot index of colours[x]] += delta, for each pixel of a row.
template <class Layout>
void CountLabels(const typename Layout::Packed *colours, std::uint8_t *counts, int labels, int width, int delta)
{
    // Each pixel's label count in its column moves by delta.
    for (int x = 0; x < width; ++x) {
        std::uint8_t &count = counts[static_cast<std::size_t>(x) * labels + (colours[x] >> Layout::indexShift)];
        count = static_cast<std::uint8_t>(count + delta);
    }
}

// Pixels of the window's columns from first to last that have label, from the column counts.
int CountInWindow(const std::uint8_t *counts, int labels, int first, int last, int label)
{
    int n = 0;
    for (int x = first; x <= last; ++x)
        n += counts[static_cast<std::size_t>(x) * labels + label];
    return n;
}

// Writes one row of the result from the best and second colours of its pixels and the label
// counts of the columns of its window, which spans windowRows rows.
template <class Layout>
void FeatherRow(const typename Layout::Packed *best, const typename Layout::Packed *second,
                const std::uint8_t *counts, int labels, int windowRows, typename Layout::Channel *out, int width)
{
    using Channel = typename Layout::Channel;
    constexpr auto channelMask = static_cast<typename Layout::Packed>((1ULL << Layout::channelBits) - 1);
    // Each pixel gets its best colour where its window holds its best label only, else the
    // blend of its best and second colours weighted by their labels' pixels in the window.
    for (int x = 0; x < width; ++x) {
        const int first = std::max(x - FeatherRadius, 0), last = std::min(x + FeatherRadius, width - 1);
        const int label1 = static_cast<int>(best[x] >> Layout::indexShift);
        const int label2 = static_cast<int>(second[x] >> Layout::indexShift);
        const int n1 = CountInWindow(counts, labels, first, last, label1);
        Channel *pixel = out + Layout::channels * x;
        if (n1 == windowRows * (last - first + 1)) {
            for (int c = 0; c < Layout::channels; ++c)
                pixel[c] = static_cast<Channel>(best[x] >> (Layout::channelBits * c) & channelMask);
            continue;
        }
        const int n2 = label2 != label1 ? CountInWindow(counts, labels, first, last, label2) : 0;
        const unsigned total = static_cast<unsigned>(n1 + n2);
        for (int c = 0; c < Layout::channels; ++c) {
            const auto c1 = static_cast<unsigned>(best[x] >> (Layout::channelBits * c) & channelMask);
            const auto c2 = static_cast<unsigned>(second[x] >> (Layout::channelBits * c) & channelMask);
            pixel[c] = static_cast<Channel>((n1 * c1 + n2 * c2 + total / 2) / total);
        }
    }
}

} // namespace

template <class Layout>
void FeatherSeams(const FoldState<typename Layout::Packed> &state, int shots, TBitmap &result)
{
    const int width = result.Width(), height = result.Height();
    std::vector<std::uint8_t> counts(static_cast<std::size_t>(width) * shots);
    // The window starts on rows 0 to radius - 1; each row moves it down by one.
    for (int y = 0; y < std::min(FeatherRadius, height); ++y)
        CountLabels<Layout>(state.BestColours(y), counts.data(), shots, width, 1);
    for (int y = 0; y < height; ++y) {
        if (y + FeatherRadius < height)
            CountLabels<Layout>(state.BestColours(y + FeatherRadius), counts.data(), shots, width, 1);
        if (y - FeatherRadius - 1 >= 0)
            CountLabels<Layout>(state.BestColours(y - FeatherRadius - 1), counts.data(), shots, width, -1);
        const int windowRows = std::min(y + FeatherRadius, height - 1) - std::max(y - FeatherRadius, 0) + 1;
        FeatherRow<Layout>(state.BestColours(y), state.SecondColours(y), counts.data(), shots, windowRows,
                           reinterpret_cast<typename Layout::Channel *>(result.ScanLine(y)), width);
    }
}

template void FeatherSeams<Grey8>(const FoldState<std::uint32_t> &, int, TBitmap &);
template void FeatherSeams<Colour24>(const FoldState<std::uint32_t> &, int, TBitmap &);
