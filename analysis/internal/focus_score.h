// Focus scores of one shot, row after row: at each pixel the mean of E squared over a large
// window averaged with its mean over a 7 x 7 window, E being the shot's edge strength. The edge
// rows live in a ring as tall as the large window, so no full-size buffer is ever held.
#pragma once

#include "bitmap.h"

#include <cstdint>
#include <vector>

class FocusScorer {
public:
    // A scorer for shots whose top-left width x height part is scored.
    FocusScorer(int width, int height);

    // Starts on a shot of pf8bit, pf24bit or pf48bit holding at least width x height pixels, whose
    // bytes are not changed until the last row is read. coverage (pf8bit, nullptr: all covered)
    // marks the pixels the shot covers with a nonzero byte: E is 0 within one pixel of an
    // uncovered one, so that the border of the covered area is no edge.
    void Start(const TBitmap &shot, const TBitmap *coverage);

    // The scores of the next row (0, 1, ... after Start), width floats from 0 to 65025 x 16:
    // 8 x (sum of E squared / pixels) over each window, both windows clipped to the picture.
    // Valid until the next call.
    const float *NextRow();

    // The large window's radius: max(20, long side / 48), as blur grows with the resolution.
    static int LargeRadius(int width, int height);

private:
    // Column sums of E squared over one window's rows, and the row factor of its mean.
    struct Window {
        int radius = 0;
        int shift = 0; // the column sums' low bits dropped, so that a window's sum fits 31 bits
        std::vector<std::uint32_t> columnSums, prefix;
        std::vector<float> columnFactors;
    };

    void InitWindow(Window &window, int radius);
    const std::uint8_t *EdgeRow(int row);
    void ComputeEdgeRow(int row, std::uint8_t *edges);
    void Slide(Window &window, int y);

    int width_, height_;
    const TBitmap *shot_ = nullptr;
    const TBitmap *coverage_ = nullptr;
    int nextRow_ = 0, edgeRowsDone_ = 0;
    Window large_, small_;
    int ringRows_;
    std::vector<std::uint8_t> ring_, zeros_, channelEdges_, covered_, rounded_;
    std::vector<float> scores_;
};
