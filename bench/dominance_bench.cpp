// ComputeDominanceMap on the three edge strength maps of the pcb triple as it is and tiled
// 2 x 2 and 4 x 4, beside OpenCV and the memcpy limit.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "dominance.h"

#ifdef EDGEDOM_WITH_OPENCV
#include "opencv_peers.h"
#endif

namespace {

void Ours(benchmark::State &state, int tiles)
{
    const TBitmap &first = PcbEdgeMap(1, tiles), &second = PcbEdgeMap(2, tiles), &third = PcbEdgeMap(3, tiles);
    for (auto _ : state) {
        const TBitmap map = ComputeDominanceMap(first, second, third);
        benchmark::DoNotOptimize(map.ScanLine(0));
    }
    SetPixelCounters(state, PixelsOf(first), 6 * PixelsOf(first));
}

#ifdef EDGEDOM_WITH_OPENCV
void OpenCv(benchmark::State &state, int tiles)
{
    const cv::Mat first = MatOf(PcbEdgeMap(1, tiles)), second = MatOf(PcbEdgeMap(2, tiles)),
                  third = MatOf(PcbEdgeMap(3, tiles));
    cv::Mat map;
    PeerScratch scratch;
    OpenCvDominanceMap(first, second, third, map, scratch); // allocates the outputs it keeps
    for (auto _ : state) {
        OpenCvDominanceMap(first, second, third, map, scratch);
        benchmark::DoNotOptimize(map.data);
    }
    SetPixelCounters(state, first.total(), 6 * static_cast<long long>(first.total()));
}
#endif

} // namespace

void RegisterDominanceBenchmarks()
{
    if (!HavePcbTriple())
        return;
    for (const int tiles : {1, 2, 4}) {
        const std::string input = PcbInputName(tiles);
        Register("Dominance", "ours", input, [tiles](benchmark::State &state) { Ours(state, tiles); });
#ifdef EDGEDOM_WITH_OPENCV
        Register("Dominance", "opencv", input, [tiles](benchmark::State &state) { OpenCv(state, tiles); });
#endif
        RegisterMemcpyLimit("Dominance", input, [tiles]() -> const TBitmap & { return PcbEdgeMap(1, tiles); }, 3, 3);
    }
}
