// What the benchmark files share: their registration functions, the counters every
// benchmark reports and the memcpy limit. Benchmarks are named stage/implementation/input
// (Dominance/ours/pcb_2x2, Dominance/opencv/pcb_2x2, Dominance/memcpy/pcb_2x2), so that
// bench/performance_table.py can set the three side by side.
#pragma once

#include "bitmap.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

// Each registers the benchmarks of one file for the inputs that are there.
void RegisterEdgeStrengthBenchmarks();
void RegisterDominanceBenchmarks();
void RegisterRegionMapBenchmarks();
void RegisterPictureLoadBenchmarks();
void RegisterPngWriteBenchmarks();
void RegisterPngReadBenchmarks();
void RegisterFocusStackBenchmarks();
void RegisterBrushStrokeBenchmarks();
// In edgedom-window-bench, which links Qt Widgets.
void RegisterPictureViewerBenchmarks();
void RegisterLivePaintingBenchmarks();

// An input of a benchmark, built on the benchmark's first run rather than at registration.
using BenchInput = std::function<const TBitmap &()>;

// Registers stage/implementation/input, timed by the wall clock (so that work our functions
// hand to other threads counts) and reported in milliseconds.
benchmark::internal::Benchmark *Register(const std::string &stage, const std::string &implementation,
                                         const std::string &input, std::function<void(benchmark::State &)> run);

// Reports the pixels of the input, pixels per second, bytes per second and ns_per_px, for
// iterations that each handle pixels and read plus write bytesMoved bytes.
void SetPixelCounters(benchmark::State &state, long long pixels, long long bytesMoved);

// Registers stage/memcpy/input, the floor of a stage that reads bytesReadPerPixel and writes
// bytesWrittenPerPixel for each pixel of input: one memcpy of (read + written) / 2 bytes,
// which moves read + written bytes.
void RegisterMemcpyLimit(const std::string &stage, const std::string &input, BenchInput pixelsOf, int bytesReadPerPixel,
                         int bytesWrittenPerPixel);
