// ComputeEdgeStrengthMap on picture 1 of the pcb triple as it is and tiled 2 x 2 and 4 x 4:
// EdgeStrength is the map alone, on the grey bytes, beside OpenCV and the memcpy limit;
// EdgeStrengthFromColour is the grey conversion and the map, as the command runs them.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "edge_strength.h"

#ifdef EDGEDOM_WITH_OPENCV
#include "opencv_peers.h"
#endif

namespace {

// The map is computed in place, so each iteration starts from a fresh copy of the input,
// made while the clock is stopped.
void Ours(benchmark::State &state, const TBitmap &input)
{
    TBitmap work;
    for (auto _ : state) {
        state.PauseTiming();
        work.Assign(input);
        state.ResumeTiming();
        ComputeEdgeStrengthMap(work);
        benchmark::DoNotOptimize(work.ScanLine(0));
    }
    const long long pixels = PixelsOf(input);
    SetPixelCounters(state, pixels, pixels * (TBitmap::BytesPerPixel(input.PixelFormat()) + 1));
}

#ifdef EDGEDOM_WITH_OPENCV
void OpenCv(benchmark::State &state, const TBitmap &input)
{
    const cv::Mat grey = MatOf(input);
    cv::Mat edges;
    PeerScratch scratch;
    OpenCvEdgeStrengthMap(grey, edges, scratch); // allocates the outputs it keeps
    for (auto _ : state) {
        OpenCvEdgeStrengthMap(grey, edges, scratch);
        benchmark::DoNotOptimize(edges.data);
    }
    SetPixelCounters(state, PixelsOf(input), 2 * PixelsOf(input));
}
#endif

} // namespace

void RegisterEdgeStrengthBenchmarks()
{
    if (!HavePcbTriple())
        return;
    for (const int tiles : {1, 2, 4}) {
        const std::string input = PcbInputName(tiles);
        const BenchInput grey = [tiles]() -> const TBitmap & { return PcbGrey(1, tiles); };
        const BenchInput colour = [tiles]() -> const TBitmap & { return PcbPicture(1, tiles); };
        Register("EdgeStrength", "ours", input, [grey](benchmark::State &state) { Ours(state, grey()); });
#ifdef EDGEDOM_WITH_OPENCV
        Register("EdgeStrength", "opencv", input, [grey](benchmark::State &state) { OpenCv(state, grey()); });
#endif
        RegisterMemcpyLimit("EdgeStrength", input, grey, 1, 1);
        Register("EdgeStrengthFromColour", "ours", input, [colour](benchmark::State &state) { Ours(state, colour()); });
        RegisterMemcpyLimit("EdgeStrengthFromColour", input, colour, 3, 1);
    }
}
