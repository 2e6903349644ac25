// Retouching brush strokes: a stroke paints a place of the fused picture from one shot, where the
// automatic fusion chose wrongly. Every pixel whose centre lies within the brush's radius of the
// stroke's path takes the shot's colour exactly (a hard edge), so that the window, which paints
// live, and the command line, which renders a saved stack, give the same bytes.
#pragma once

#include "bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

// A point in the first shot's picture pixels, the centre of the top-left pixel at (0.5, 0.5).
struct StrokePoint {
    double x, y;
};

// One stroke of the brush: the shot it paints from (0 for the first shot in the stack's order),
// the brush's radius in pixels and the pointer's path.
struct BrushStroke {
    int shot = 0;
    double radius = 0;
    std::vector<StrokePoint> points;
};

// The largest brush.
constexpr double MaxBrushRadius = 500;
// How far from the origin a stroke's point may lie: far beyond the side of any camera's picture,
// and near enough that a pixel's distance to the path keeps the precision the hard edge needs.
constexpr double MaxStrokeCoordinate = 1e6;

// What keeps a stroke from being painted, in a user's words ("its radius, 600, is not above 0
// and at most 500"), or empty when nothing does: a radius above 0 and at most MaxBrushRadius, at
// least one point, and coordinates that are finite numbers within +-MaxStrokeCoordinate. The
// shot is not looked at: whether it exists is the stack's affair.
std::string StrokeFault(const BrushStroke &stroke);

// A run of pixels of row y: first <= x <= last.
struct PixelSpan {
    int y, first, last;
    bool operator==(const PixelSpan &) const = default;
};

// The pixels left <= x < right, top <= y < bottom; empty when right <= left or bottom <= top.
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const noexcept { return right <= left || bottom <= top; }
    bool operator==(const PixelRect &) const = default;
};

// The pixels of a width x height picture the stroke covers: those whose centre (x + 0.5, y + 0.5)
// lies within the radius of the path, the straight segments between consecutive points (of one
// point, the point itself: a disc). Within means that the squared distance to the segment's
// nearest point, a + t (b - a) with t the centre's projection clamped to 0..1 (0 when a = b), is
// at most the radius squared. Clipped to the picture, as runs, row by row from the top and left
// to right in a row, neither overlapping nor touching. Found row by row from the segments'
// geometry, in time proportional to the rows the stroke crosses. Raises an Exception saying
// what is wrong with a stroke StrokeFault refuses.
std::vector<PixelSpan> StrokeSpans(const BrushStroke &stroke, int width, int height);

// A rectangle of the width x height picture holding every pixel the stroke covers (the points'
// box widened by the radius and clipped), found without visiting the pixels. The stroke must be
// one StrokeFault accepts.
PixelRect StrokeBounds(const BrushStroke &stroke, int width, int height);

// Paints the stroke from shot into picture: each covered pixel (StrokeSpans) takes the shot's
// pixel, and in sources, when given, the byte sourceValue. shot and picture are of one size and
// format (pf8bit, pf24bit or pf48bit); sources and coverage, when given, pf8bit of that size. A
// pixel that coverage marks 0 is left as it is in both: a shot moved into the first one's frame
// does not show it. Returns the smallest rectangle holding every covered pixel (empty when the
// stroke misses the picture). A stroke of two points paints one segment, which is how the window
// paints a stroke as the pointer moves; painting a stroke's segments one after another gives
// the bytes of painting it at once. Raises an Exception, before anything changes, for a stroke
// StrokeFault refuses and for bitmaps of other sizes or formats.
PixelRect PaintStroke(const BrushStroke &stroke, const TBitmap &shot, TBitmap &picture, TBitmap *sources,
                      std::uint8_t sourceValue, const TBitmap *coverage = nullptr);
