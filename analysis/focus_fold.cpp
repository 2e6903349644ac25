#include "focus_fold.h"

#include "vector_clones.h"

#include <algorithm>

template <class Layout>
void PackRow(const std::uint8_t *row, int index, typename Layout::Packed *colours, int width)
{
    using Packed = typename Layout::Packed;
    const auto *channels = reinterpret_cast<const typename Layout::Channel *>(row);
    const Packed indexBits = static_cast<Packed>(index) << Layout::indexShift;
    // Each pixel gets its channels side by side and the shot's index above them.
    for (int x = 0; x < width; ++x) {
        Packed packed = indexBits;
        for (int c = 0; c < Layout::channels; ++c)
            packed |= static_cast<Packed>(channels[Layout::channels * x + c]) << (Layout::channelBits * c);
        colours[x] = packed;
    }
}

template void PackRow<Grey8>(const std::uint8_t *, int, std::uint32_t *, int);
template void PackRow<Colour24>(const std::uint8_t *, int, std::uint32_t *, int);

void StartRow(const float *scores, const std::uint8_t *covered, const std::uint32_t *colours,
              FoldRows<std::uint32_t> state, int width)
{
    // Each pixel gets the first shot as its best and second place, with NoScore where uncovered.
    for (int x = 0; x < width; ++x) {
        state.best[x] = covered[x] != 0 ? scores[x] : NoScore;
        state.second[x] = covered[x] != 0 ? 0.0f : NoScore;
        state.bestColour[x] = colours[x];
        state.secondColour[x] = colours[x];
    }
}

void CountScores(const float *scores, const std::uint8_t *covered, std::uint32_t *histogram, int width)
{
    constexpr float lastBin = 65535;
    // Each covered pixel's score, rounded down, counts in its bin.
    for (int x = 0; x < width; ++x)
        histogram[static_cast<int>(std::min(scores[x], lastBin))] += covered[x] != 0;
}

namespace {

// The fold of one row, for any packed colour; the wrappers below compile it for each CPU.
template <class Packed>
[[gnu::always_inline]] inline void FoldRowOf(const float *__restrict scores, const std::uint8_t *__restrict covered,
                                             const Packed *__restrict colours, float margin, float *__restrict best,
                                             float *__restrict second, Packed *__restrict bestColour,
                                             Packed *__restrict secondColour, int width)
{
    // Each covered pixel takes the shot as its best or second, or keeps what it has; no branch,
    // as the winner changes from pixel to pixel.
    for (int x = 0; x < width; ++x) {
        const float score = scores[x], oldBest = best[x];
        const bool isCovered = covered[x] != 0;
        const bool lead = isCovered & (score > oldBest + margin);
        const bool runnerUp = isCovered & !lead & (score > second[x]);
        // The best moves down to second place, unless no shot had covered the pixel: then the
        // new best is its own second, so that an uncovered colour is never blended in.
        const Packed movedDown = oldBest == NoScore ? colours[x] : bestColour[x];
        second[x] = lead ? oldBest : runnerUp ? score : second[x];
        secondColour[x] = lead ? movedDown : runnerUp ? colours[x] : secondColour[x];
        best[x] = lead ? score : oldBest;
        bestColour[x] = lead ? colours[x] : bestColour[x];
    }
}

} // namespace

EDGEDOM_VECTOR_CLONES void FoldRow(const float *scores, const std::uint8_t *covered, const std::uint32_t *colours,
                                   float margin, FoldRows<std::uint32_t> state, int width)
{
    FoldRowOf(scores, covered, colours, margin, state.best, state.second, state.bestColour, state.secondColour, width);
}
