// edgedom-bench: registers the benchmarks whose inputs are there, checks once that every
// OpenCV peer gives our bytes, then runs what Google Benchmark's flags select.
#include "bench_inputs.h"
#include "benchmarks.h"

#ifdef EDGEDOM_WITH_OPENCV
#include "opencv_peers.h"
#endif

#include <cstdint>
#include <cstring>
#include <exception>
#include <iostream>
#include <vector>

benchmark::internal::Benchmark *Register(const std::string &stage, const std::string &implementation,
                                         const std::string &input, std::function<void(benchmark::State &)> run)
{
    const std::string name = stage + "/" + implementation + "/" + input;
    return benchmark::RegisterBenchmark(name.c_str(), std::move(run))->UseRealTime()->Unit(benchmark::kMillisecond);
}

void SetPixelCounters(benchmark::State &state, long long pixels, long long bytesMoved)
{
    state.counters["pixels"] = static_cast<double>(pixels);
    state.SetItemsProcessed(state.iterations() * pixels);
    state.SetBytesProcessed(state.iterations() * bytesMoved);
    // Seconds per (pixels x 1e-9) per iteration: nanoseconds per pixel.
    state.counters["ns_per_px"] = benchmark::Counter(static_cast<double>(pixels) * 1e-9,
                                                     benchmark::Counter::kIsIterationInvariantRate
                                                         | benchmark::Counter::kInvert);
}

void RegisterMemcpyLimit(const std::string &stage, const std::string &input, BenchInput pixelsOf, int bytesReadPerPixel,
                         int bytesWrittenPerPixel)
{
    Register(stage, "memcpy", input, [=](benchmark::State &state) {
        const long long pixels = PixelsOf(pixelsOf());
        const auto bytes = static_cast<std::size_t>(pixels * (bytesReadPerPixel + bytesWrittenPerPixel) / 2);
        // Both buffers are written before the clock starts, so no page is first touched inside it.
        const std::vector<std::uint8_t> from(bytes, 1);
        std::vector<std::uint8_t> to(bytes, 0);
        for (auto _ : state) {
            std::memcpy(to.data(), from.data(), bytes);
            benchmark::ClobberMemory();
        }
        SetPixelCounters(state, pixels, 2 * static_cast<long long>(bytes));
    });
}

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    try {
#ifdef EDGEDOM_WITH_OPENCV
        cv::setNumThreads(1);
        if (!CheckPeersGiveOurBytes(std::cerr))
            return 1;
#endif
        RegisterEdgeStrengthBenchmarks();
        RegisterDominanceBenchmarks();
        RegisterRegionMapBenchmarks();
        RegisterPictureLoadBenchmarks();
        RegisterPngWriteBenchmarks();
        RegisterPngReadBenchmarks();
        RegisterFocusStackBenchmarks();
        if (benchmark::RunSpecifiedBenchmarks() == 0) {
            std::cerr << "edgedom-bench: no benchmark ran: the filter matches none, or the inputs are missing\n";
            return 1;
        }
    } catch (const std::exception &error) {
        std::cerr << "edgedom-bench: " << error.what() << "\n";
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
