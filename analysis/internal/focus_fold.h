// The per-pixel state of a focus stack and the row steps that fold a shot into it and feather
// the seams of the result. Seen only by focus_stack.cpp and the files that implement it.
#pragma once

#include "bitmap.h"
#include "focus_stack.h"
#include "pixel_buffer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// How a pixel format's pixels are held in the state: the channels side by side in the low bits
// of Packed (channel 0 lowest), the index of the shot they came from in its top byte.
template <class ChannelT, int channelCount, class PackedT>
struct PixelLayout {
    using Channel = ChannelT;
    using Packed = PackedT;
    static constexpr int channels = channelCount;
    static constexpr int channelBits = 8 * sizeof(Channel);
    static constexpr int indexShift = 8 * sizeof(Packed) - 8;
};
using Grey8 = PixelLayout<std::uint8_t, 1, std::uint32_t>;
using Colour24 = PixelLayout<std::uint8_t, 3, std::uint32_t>;
using Colour48 = PixelLayout<std::uint16_t, 3, std::uint64_t>;

class FocusStack::Fusion {
public:
    Fusion(int width, int height, TPixelFormat format) : width(width), height(height), format(format) {}
    virtual ~Fusion() = default;
    virtual void Add(const TBitmap &shot, const TBitmap *coverage) = 0;
    virtual TBitmap Result(TBitmap *sources) const = 0;

    const int width, height;
    const TPixelFormat format;
    int shots = 0;
};

// One row of the state: per pixel the best and the second-best score and the packed colour
// that won each. A pixel no shot has covered yet holds NoScore in both; the second place of a
// pixel holds score 0 and the best colour until a second shot scores above 0 there.
template <class Packed>
struct FoldRows {
    float *best, *second;
    Packed *bestColour, *secondColour;
};

// The state of all pixels, 2 x (4 + sizeof(Packed)) bytes per pixel, for any number of shots.
template <class Packed>
class FoldState {
public:
    FoldState(int width, int height)
        : width_(static_cast<std::size_t>(width)), pixels_(width_ * static_cast<std::size_t>(height)),
          best_(pixels_ * sizeof(float)), second_(pixels_ * sizeof(float)), bestColour_(pixels_ * sizeof(Packed)),
          secondColour_(pixels_ * sizeof(Packed))
    {
    }

    FoldRows<Packed> Row(int y)
    {
        const std::size_t at = Offset(y);
        return {reinterpret_cast<float *>(best_.data()) + at, reinterpret_cast<float *>(second_.data()) + at,
                reinterpret_cast<Packed *>(bestColour_.data()) + at, reinterpret_cast<Packed *>(secondColour_.data()) + at};
    }
    const Packed *BestColours(int y) const { return reinterpret_cast<const Packed *>(bestColour_.data()) + Offset(y); }
    const Packed *SecondColours(int y) const
    {
        return reinterpret_cast<const Packed *>(secondColour_.data()) + Offset(y);
    }

private:
    std::size_t Offset(int y) const { return width_ * static_cast<std::size_t>(y); }

    std::size_t width_, pixels_;
    PixelBuffer best_, second_, bestColour_, secondColour_;
};

// The best score of a pixel that no shot has covered yet: below every score.
inline constexpr float NoScore = -3.0e38f;

// colours[x] = pixel x of a shot's row in Layout, with index in the top byte.
template <class Layout>
void PackRow(const std::uint8_t *row, int index, typename Layout::Packed *colours, int width);

// The first shot's row: a covered pixel takes its score and colour as the best, score 0 and
// the same colour as the second; an uncovered one NoScore in both, and the colour as a fallback.
void StartRow(const float *scores, const std::uint8_t *covered, const std::uint32_t *colours, float *best,
              float *second, std::uint32_t *bestColour, std::uint32_t *secondColour, int width);
void StartRow(const float *scores, const std::uint8_t *covered, const std::uint64_t *colours, float *best,
              float *second, std::uint64_t *bestColour, std::uint64_t *secondColour, int width);

// Adds the covered pixels' scores, capped at histogram's last bin, to histogram.
void CountScores(const float *scores, const std::uint8_t *covered, std::uint32_t *histogram, int width);

// A later shot's row: where covered, a score above best + margin takes the lead and moves the
// best down to second place; else a score above the second takes second place. Ties keep the
// earlier shot.
void FoldRow(const float *scores, const std::uint8_t *covered, const std::uint32_t *colours, float margin, float *best,
             float *second, std::uint32_t *bestColour, std::uint32_t *secondColour, int width);
void FoldRow(const float *scores, const std::uint8_t *covered, const std::uint64_t *colours, float margin, float *best,
             float *second, std::uint64_t *bestColour, std::uint64_t *secondColour, int width);

// Writes result (Layout's format, the state's size): each pixel's best colour where the
// 11 x 11 window around it (clipped to the picture) was won by its best shot only; else
// (n1 c1 + n2 c2 + (n1 + n2) / 2) / (n1 + n2) per channel, n1 and n2 counting the window's
// pixels won by the pixel's best and second-best shots (n2 = 0 when both are one shot).
// sources, when given (pf8bit, the state's size), gets each pixel's best shot, or its second
// where n2 > n1.
template <class Layout>
void FeatherSeams(const FoldState<typename Layout::Packed> &state, int shots, TBitmap &result, TBitmap *sources);
