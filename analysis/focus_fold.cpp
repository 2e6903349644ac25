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
template void PackRow<Colour48>(const std::uint8_t *, int, std::uint64_t *, int);

namespace {

// The row steps for either packed size; the clone-marked functions below call them, since
// target_clones does not apply to templates.
template <class Packed>
[[gnu::always_inline]] inline void StartRowOf(const float *__restrict scores, const std::uint8_t *__restrict covered,
                                              const Packed *__restrict colours, float *__restrict best,
                                              float *__restrict second, Packed *__restrict bestColour,
                                              Packed *__restrict secondColour, int width)
{
    // Each pixel gets the first shot as its best and second place, with NoScore where uncovered.
    for (int x = 0; x < width; ++x) {
        const float score = scores[x];
        const std::uint32_t isCovered = covered[x] != 0;
        best[x] = isCovered ? score : NoScore;
        second[x] = isCovered ? 0.0f : NoScore;
        bestColour[x] = colours[x];
        secondColour[x] = colours[x];
    }
}

template <class Packed>
[[gnu::always_inline]] inline void FoldRowOf(const float *__restrict scores, const std::uint8_t *__restrict covered,
                                             const Packed *__restrict colours, float margin, float *__restrict best,
                                             float *__restrict second, Packed *__restrict bestColour,
                                             Packed *__restrict secondColour, int width)
{
    // Each covered pixel takes the shot as its best or second, or keeps what it has; every
    // value is loaded and stored unconditionally, so that the choices become vector blends.
    for (int x = 0; x < width; ++x) {
        const float score = scores[x], oldBest = best[x], oldSecond = second[x];
        const Packed colour = colours[x], oldBestColour = bestColour[x], oldSecondColour = secondColour[x];
        const std::uint32_t isCovered = covered[x] != 0;
        const std::uint32_t lead = isCovered & (score > oldBest + margin);
        const std::uint32_t runnerUp = isCovered & (lead ^ 1) & (score > oldSecond);
        // The best moves down to second place, unless no shot had covered the pixel: then the
        // new best is its own second, so that an uncovered colour is never blended in.
        const Packed movedDown = oldBest == NoScore ? colour : oldBestColour;
        const float keptSecond = runnerUp ? score : oldSecond;
        const Packed keptSecondColour = runnerUp ? colour : oldSecondColour;
        second[x] = lead ? oldBest : keptSecond;
        secondColour[x] = lead ? movedDown : keptSecondColour;
        best[x] = lead ? score : oldBest;
        bestColour[x] = lead ? colour : oldBestColour;
    }
}

} // namespace

EDGEDOM_VECTOR_CLONES void StartRow(const float *scores, const std::uint8_t *covered, const std::uint32_t *colours,
                                    float *best, float *second, std::uint32_t *bestColour,
                                    std::uint32_t *secondColour, int width)
{
    StartRowOf(scores, covered, colours, best, second, bestColour, secondColour, width);
}

EDGEDOM_VECTOR_CLONES void StartRow(const float *scores, const std::uint8_t *covered, const std::uint64_t *colours,
                                    float *best, float *second, std::uint64_t *bestColour,
                                    std::uint64_t *secondColour, int width)
{
    StartRowOf(scores, covered, colours, best, second, bestColour, secondColour, width);
}

void CountScores(const float *scores, const std::uint8_t *covered, std::uint32_t *histogram, int width)
{
    constexpr float lastBin = 65535;
    // Each covered pixel's score, rounded down, counts in its bin.
    for (int x = 0; x < width; ++x)
        histogram[static_cast<int>(std::min(scores[x], lastBin))] += covered[x] != 0;
}

EDGEDOM_VECTOR_CLONES void FoldRow(const float *scores, const std::uint8_t *covered, const std::uint32_t *colours,
                                   float margin, float *best, float *second, std::uint32_t *bestColour,
                                   std::uint32_t *secondColour, int width)
{
    FoldRowOf(scores, covered, colours, margin, best, second, bestColour, secondColour, width);
}

EDGEDOM_VECTOR_CLONES void FoldRow(const float *scores, const std::uint8_t *covered, const std::uint64_t *colours,
                                   float margin, float *best, float *second, std::uint64_t *bestColour,
                                   std::uint64_t *secondColour, int width)
{
    FoldRowOf(scores, covered, colours, margin, best, second, bestColour, secondColour, width);
}
