// PaintStroke as the window calls it while the pointer moves: one segment of a stroke, 40 pixels
// long with a brush of radius 50, painted from a shot into a 12.6-megapixel colour picture and its
// sources. The target is at most 16 ms, a frame at 60 per second; the work is the stroke's own
// pixels, not the picture's.
#include "benchmarks.h"
#include "brush_stroke.h"

#include <cstring>

namespace {

TBitmap Filled(TPixelFormat format, int width, int height, std::uint8_t value)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memset(bitmap.ScanLine(y), value, bitmap.RowStride());
    return bitmap;
}

void PaintSegment(benchmark::State &state)
{
    const int width = 4096, height = 3072;
    const TBitmap shot = Filled(pf24bit, width, height, 200);
    TBitmap picture = Filled(pf24bit, width, height, 100), sources = Filled(pf8bit, width, height, 1);
    const BrushStroke segment{1, 50, {{2048.3, 1536.6}, {2088.3, 1536.6}}};
    long long pixels = 0;
    for (const PixelSpan &span : StrokeSpans(segment, width, height))
        pixels += span.last - span.first + 1;
    for (auto _ : state) {
        const PixelRect changed = PaintStroke(segment, shot, picture, &sources, 2);
        benchmark::DoNotOptimize(changed);
        benchmark::ClobberMemory();
    }
    // Per covered pixel: reads the shot's 3 bytes, writes the picture's 3 and the source byte.
    SetPixelCounters(state, pixels, 7 * pixels);
}

} // namespace

void RegisterBrushStrokeBenchmarks()
{
    Register("BrushStroke", "ours", "r50_len40_4096x3072", PaintSegment);
}
