#include "brush_stroke.h"

#include "exception.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A figure as short as it can be written and read back the same, without an exponent unless it
// is tiny or huge: "2.5", "100000000", "1e-300", "inf".
std::string NumberText(double value)
{
    char text[64];
    const bool plain = std::abs(value) >= 1e-4 && std::abs(value) < 1e16;
    const auto end = std::to_chars(text, text + sizeof text, value, plain ? std::chars_format::fixed
                                                                          : std::chars_format::general).ptr;
    return std::string(text, end);
}

struct Segment {
    StrokePoint a, b;
};

// The rule of a covered point: its squared distance to the segment's nearest point is at most
// radius squared. Every pixel the spans hold obeys it, and every pixel beside a span breaks it.
bool Covers(const Segment &s, double radius, double px, double py)
{
    const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y, length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(((px - s.a.x) * dx + (py - s.a.y) * dy) / length2, 0.0, 1.0) : 0.0;
    const double ex = px - (s.a.x + t * dx), ey = py - (s.a.y + t * dy);
    return ex * ex + ey * ey <= radius * radius;
}

// A stretch lo..hi of a row's centre line; empty while lo > hi.
struct Interval {
    double lo = std::numeric_limits<double>::infinity(), hi = -std::numeric_limits<double>::infinity();
    void Unite(double from, double to) { lo = std::min(lo, from), hi = std::max(hi, to); }
};

// Where the row's centre line y crosses the disc of radius r about c.
void UniteDisc(Interval &row, StrokePoint c, double r, double y)
{
    const double dy = y - c.y, half2 = r * r - dy * dy;
    if (half2 >= 0)
        row.Unite(c.x - std::sqrt(half2), c.x + std::sqrt(half2));
}

// Narrows lo..hi of X to where slope X + offset lies within min..max.
void Constrain(double &lo, double &hi, double slope, double offset, double min, double max)
{
    if (slope == 0) {
        if (offset < min || offset > max)
            lo = 1, hi = 0;
        return;
    }
    double from = (min - offset) / slope, to = (max - offset) / slope;
    if (slope < 0)
        std::swap(from, to);
    lo = std::max(lo, from), hi = std::min(hi, to);
}

// Where the row's centre line y crosses the band of width 2r along the segment, between the
// perpendiculars through its ends. Measured from a along the line, X = x - a.x, Y = y - a.y:
// X dx + Y dy runs 0..L^2 along the segment and (X dy - Y dx) / L is the distance across it.
void UniteBand(Interval &row, const Segment &s, double r, double y)
{
    const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y, length = std::hypot(dx, dy), Y = y - s.a.y;
    if (length == 0)
        return;
    double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();
    Constrain(lo, hi, dx, Y * dy, 0, length * length);
    Constrain(lo, hi, dy / length, -Y * dx / length, -r, r);
    if (lo <= hi)
        row.Unite(s.a.x + lo, s.a.x + hi);
}

// value rounded by round (std::ceil or std::floor) and clamped to lo..hi, a NaN to lo.
template <class Round>
int IndexWithin(double value, int lo, int hi, Round round)
{
    const double index = round(value);
    return index >= lo ? (index <= hi ? static_cast<int>(index) : hi) : lo;
}

// Appends the runs of pixels of each row the segment covers within the picture. The geometry
// finds each run for a radius a hair wider than the brush, and the rule settles its ends, so
// that rounding in the geometry never decides a pixel.
void AppendSegmentSpans(const Segment &s, double radius, int width, int height, std::vector<PixelSpan> &spans)
{
    const double reach = radius + 1e-6;
    const int top = IndexWithin(std::min(s.a.y, s.b.y) - reach - 0.5, 0, height, [](double v) { return std::ceil(v); });
    const int bottom = IndexWithin(std::max(s.a.y, s.b.y) + reach - 0.5, -1, height - 1,
                                   [](double v) { return std::floor(v); });
    for (int y = top; y <= bottom; ++y) {
        const double centreY = y + 0.5;
        Interval row;
        UniteDisc(row, s.a, reach, centreY);
        UniteDisc(row, s.b, reach, centreY);
        UniteBand(row, s, reach, centreY);
        int first = IndexWithin(row.lo - 0.5, 0, width, [](double v) { return std::ceil(v); });
        int last = IndexWithin(row.hi - 0.5, -1, width - 1, [](double v) { return std::floor(v); });
        const auto covered = [&](int x) { return Covers(s, radius, x + 0.5, centreY); };
        while (first <= last && !covered(first))
            ++first;
        while (last >= first && !covered(last))
            --last;
        if (first <= last)
            spans.push_back({y, first, last});
    }
}

void RequirePaintable(const BrushStroke &stroke)
{
    const std::string fault = StrokeFault(stroke);
    if (!fault.empty())
        throw Exception("Cannot paint the stroke: " + fault + ".");
}

bool SameShape(const TBitmap &a, const TBitmap &b, TPixelFormat format)
{
    return a.Width() == b.Width() && a.Height() == b.Height() && a.PixelFormat() == format;
}

} // namespace

std::string StrokeFault(const BrushStroke &stroke)
{
    if (!(stroke.radius > 0 && stroke.radius <= MaxBrushRadius))
        return "its radius, " + NumberText(stroke.radius) + ", is not above 0 and at most " + NumberText(MaxBrushRadius);
    if (stroke.points.empty())
        return "it has no points";
    for (std::size_t i = 0; i < stroke.points.size(); ++i)
        for (const double coordinate : {stroke.points[i].x, stroke.points[i].y})
            if (!(std::abs(coordinate) <= MaxStrokeCoordinate))
                return "its point " + std::to_string(i + 1) + " has the coordinate " + NumberText(coordinate)
                       + ", not a number within +-" + NumberText(MaxStrokeCoordinate);
    return {};
}

std::vector<PixelSpan> StrokeSpans(const BrushStroke &stroke, int width, int height)
{
    RequirePaintable(stroke);
    std::vector<PixelSpan> spans;
    const std::vector<StrokePoint> &points = stroke.points;
    if (points.size() == 1)
        AppendSegmentSpans({points[0], points[0]}, stroke.radius, width, height, spans);
    for (std::size_t i = 0; i + 1 < points.size(); ++i)
        AppendSegmentSpans({points[i], points[i + 1]}, stroke.radius, width, height, spans);
    std::sort(spans.begin(), spans.end(),
              [](const PixelSpan &a, const PixelSpan &b) { return a.y != b.y ? a.y < b.y : a.first < b.first; });
    // Runs of one row that overlap or touch become one.
    std::vector<PixelSpan> merged;
    for (const PixelSpan &span : spans) {
        if (!merged.empty() && merged.back().y == span.y && span.first <= merged.back().last + 1)
            merged.back().last = std::max(merged.back().last, span.last);
        else
            merged.push_back(span);
    }
    return merged;
}

PixelRect StrokeBounds(const BrushStroke &stroke, int width, int height)
{
    double left = MaxStrokeCoordinate, top = MaxStrokeCoordinate, right = -left, bottom = -top;
    for (const StrokePoint &p : stroke.points)
        left = std::min(left, p.x), top = std::min(top, p.y), right = std::max(right, p.x), bottom = std::max(bottom, p.y);
    // A pixel is covered only when its centre, half a pixel in from its edges, is within reach.
    const double reach = stroke.radius + 1;
    const PixelRect box{IndexWithin(left - reach, 0, width, [](double v) { return std::floor(v); }),
                        IndexWithin(top - reach, 0, height, [](double v) { return std::floor(v); }),
                        IndexWithin(right + reach, 0, width, [](double v) { return std::ceil(v); }),
                        IndexWithin(bottom + reach, 0, height, [](double v) { return std::ceil(v); })};
    return box.Empty() ? PixelRect{} : box;
}

PixelRect PaintStroke(const BrushStroke &stroke, const TBitmap &shot, TBitmap &picture, TBitmap *sources,
                      std::uint8_t sourceValue, const TBitmap *coverage)
{
    if (!SameShape(shot, picture, picture.PixelFormat()) || (sources != nullptr && !SameShape(*sources, picture, pf8bit))
        || (coverage != nullptr && !SameShape(*coverage, picture, pf8bit)))
        throw Exception("Cannot paint the stroke: the shot, the picture, its sources and the shot's coverage must be "
                        "of one size, the shot and the picture of one format, the others 8-bit.");
    const std::vector<PixelSpan> spans = StrokeSpans(stroke, picture.Width(), picture.Height());
    const int step = TBitmap::BytesPerPixel(picture.PixelFormat());
    PixelRect box;
    for (const PixelSpan &span : spans) {
        const std::uint8_t *from = shot.ScanLine(span.y);
        std::uint8_t *to = picture.ScanLine(span.y);
        std::uint8_t *source = sources != nullptr ? sources->ScanLine(span.y) : nullptr;
        const std::uint8_t *shown = coverage != nullptr ? coverage->ScanLine(span.y) : nullptr;
        const int count = span.last - span.first + 1;
        if (shown == nullptr) {
            std::memcpy(to + span.first * step, from + span.first * step, static_cast<std::size_t>(count * step));
            if (source != nullptr)
                std::memset(source + span.first, sourceValue, static_cast<std::size_t>(count));
        } else {
            // Each pixel the shot shows takes the shot's bytes and the source value; the others keep theirs.
            for (int x = span.first; x <= span.last; ++x)
                if (shown[x] != 0) {
                    std::memcpy(to + x * step, from + x * step, static_cast<std::size_t>(step));
                    if (source != nullptr)
                        source[x] = sourceValue;
                }
        }
        box = box.Empty() ? PixelRect{span.first, span.y, span.last + 1, span.y + 1}
                          : PixelRect{std::min(box.left, span.first), box.top, std::max(box.right, span.last + 1),
                                      span.y + 1};
    }
    return box;
}
