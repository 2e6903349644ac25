// ComputeRegionMap, beside OpenCV and the memcpy limit, on the dominance maps of the pcb
// triple as it is and tiled, on binary pictures read as class maps, and on synthetic worst
// cases: random classes (the most regions), one spiral (the longest region) and one class
// everywhere (the largest region).
#include "bench_inputs.h"
#include "benchmarks.h"
#include "region_map.h"

#ifdef EDGEDOM_WITH_OPENCV
#include "opencv_peers.h"
#endif

#include <filesystem>
#include <utility>
#include <vector>

namespace {

// The dominance map stays pf24bit from one iteration to the next, so each starts alike.
void Ours(benchmark::State &state, const TBitmap &input)
{
    TBitmap dominance, regions;
    dominance.Assign(input);
    const ShowMessageFn ignore = [](const std::string &) {};
    for (auto _ : state) {
        ComputeRegionMap(dominance, regions, ignore);
        benchmark::DoNotOptimize(regions.ScanLine(0));
    }
    SetPixelCounters(state, PixelsOf(input), 6 * PixelsOf(input));
}

#ifdef EDGEDOM_WITH_OPENCV
void OpenCv(benchmark::State &state, const TBitmap &input)
{
    const cv::Mat dominance = MatOf(input);
    cv::Mat regions;
    PeerScratch scratch;
    OpenCvRegionMap(dominance, regions, scratch); // allocates the outputs it keeps
    for (auto _ : state) {
        OpenCvRegionMap(dominance, regions, scratch);
        benchmark::DoNotOptimize(regions.data);
    }
    SetPixelCounters(state, PixelsOf(input), 6 * PixelsOf(input));
}
#endif

void RegisterFor(const std::string &input, const BenchInput &dominance)
{
    Register("RegionMap", "ours", input, [dominance](benchmark::State &state) { Ours(state, dominance()); });
#ifdef EDGEDOM_WITH_OPENCV
    Register("RegionMap", "opencv", input, [dominance](benchmark::State &state) { OpenCv(state, dominance()); });
#endif
    RegisterMemcpyLimit("RegionMap", input, dominance, 3, 3);
}

} // namespace

void RegisterRegionMapBenchmarks()
{
    if (HavePcbTriple())
        for (const int tiles : {1, 2, 4})
            RegisterFor(PcbInputName(tiles), [tiles]() -> const TBitmap & { return PcbDominanceMap(tiles); });
    for (const auto &[width, height] : std::vector<std::pair<int, int>>{{2048, 1536}, {4096, 3072}})
        RegisterFor("random_" + std::to_string(width) + "x" + std::to_string(height),
                    [=]() -> const TBitmap & { return RandomClassMap(width, height); });
    RegisterFor("spiral_6000x4000", []() -> const TBitmap & { return SpiralClassMap(6000, 4000); });
    RegisterFor("uniform_4096x3072", []() -> const TBitmap & { return UniformClassMap(4096, 3072, 1); });
    for (const std::string &file : BinaryPictureFiles())
        RegisterFor("binary_" + std::filesystem::path(file).stem().string(),
                    [file]() -> const TBitmap & { return BinaryClassMap(file); });
}
