// FocusStack on the pcb triple as it is and tiled 2 x 2: Add of a later shot (the fold), Add of
// the first shot (which also takes the state's memory) and Result (the seam feathering), each
// per pixel of one shot; and DominanceFold on the triple's three edge maps.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "dominance.h"
#include "focus_stack.h"

namespace {

void AddLaterShot(benchmark::State &state, int tiles)
{
    const TBitmap &first = PcbPicture(1, tiles);
    FocusStack stack(first.Width(), first.Height(), pf24bit);
    stack.Add(first);
    for (auto _ : state) {
        if (stack.ShotCount() == 255) { // a stack holds 255 shots: start another, off the clock
            state.PauseTiming();
            stack = FocusStack(first.Width(), first.Height(), pf24bit);
            stack.Add(first);
            state.ResumeTiming();
        }
        stack.Add(PcbPicture(2 + stack.ShotCount() % 2, tiles));
    }
    // Reads the shot and the 16-byte state of each pixel, writes the state.
    SetPixelCounters(state, PixelsOf(first), 35 * PixelsOf(first));
}

void AddFirstShot(benchmark::State &state, int tiles)
{
    const TBitmap &first = PcbPicture(1, tiles);
    for (auto _ : state) {
        FocusStack stack(first.Width(), first.Height(), pf24bit);
        stack.Add(first);
        benchmark::DoNotOptimize(stack);
    }
    SetPixelCounters(state, PixelsOf(first), 19 * PixelsOf(first));
}

void Result(benchmark::State &state, int tiles)
{
    const TBitmap &first = PcbPicture(1, tiles);
    FocusStack stack(first.Width(), first.Height(), pf24bit);
    for (int index = 1; index <= 3; ++index)
        stack.Add(PcbPicture(index, tiles));
    for (auto _ : state) {
        const TBitmap fused = stack.Result();
        benchmark::DoNotOptimize(fused.ScanLine(0));
    }
    // Reads the two colours of each pixel, writes the fused one.
    SetPixelCounters(state, PixelsOf(first), 11 * PixelsOf(first));
}

void FoldDominance(benchmark::State &state, int tiles)
{
    const TBitmap &first = PcbEdgeMap(1, tiles);
    for (auto _ : state) {
        DominanceFold fold(first.Width(), first.Height());
        for (int index = 1; index <= 3; ++index)
            fold.Add(PcbEdgeMap(index, tiles));
        const TBitmap map = fold.Result();
        benchmark::DoNotOptimize(map.ScanLine(0));
    }
    SetPixelCounters(state, PixelsOf(first), 6 * PixelsOf(first));
}

} // namespace

void RegisterFocusStackBenchmarks()
{
    if (!HavePcbTriple())
        return;
    for (const int tiles : {1, 2}) {
        const std::string input = PcbInputName(tiles);
        Register("FocusStackAdd", "ours", input, [tiles](benchmark::State &state) { AddLaterShot(state, tiles); });
        Register("FocusStackFirstShot", "ours", input, [tiles](benchmark::State &state) { AddFirstShot(state, tiles); });
        Register("FocusStackResult", "ours", input, [tiles](benchmark::State &state) { Result(state, tiles); });
        Register("DominanceFold", "ours", input, [tiles](benchmark::State &state) { FoldDominance(state, tiles); });
    }
}
