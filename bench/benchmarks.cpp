// The helpers every benchmark file shares (declared in benchmarks.h): registration under
// stage/implementation/input, the pixel counters and the memcpy limit.
#include "benchmarks.h"

#include "bench_inputs.h"

#include <cstdint>
#include <cstring>
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
