// Writing PNG in memory: EncodePng (ours: ISA-L's igzip) beside Qt's writer (libpng with zlib
// at its default level, what TPicture used before), libspng, zlib and libdeflate at level 1,
// and ours with each row filter and at the other levels, on what the command writes for the
// pcb triple: the fused picture in 8 and 16 bits (and in 16 with sensor noise), an edge map,
// the dominance map and the region map. Each reports the file's size (file_bytes) beside its
// time, and checks after the clock that Qt decodes the file to the input's pixels.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "png_peers.h"
#include "png_writer.h"

#include <QByteArray>

#include <string>
#include <utility>
#include <vector>

namespace {

using Writer = std::function<std::vector<std::uint8_t>(const TBitmap &)>;

// EncodePng into a byte array as TPicture's save does, its bytes then copied out for the check.
Writer Ours(PngEncoding encoding)
{
    return [encoding](const TBitmap &bitmap) {
        QByteArray bytes;
        const std::size_t size = EncodePng(
            bitmap, {},
            [&bytes](std::size_t maxBytes) {
                bytes.resize(static_cast<qsizetype>(maxBytes));
                return reinterpret_cast<std::uint8_t *>(bytes.data());
            },
            encoding);
        return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<qsizetype>(size));
    };
}

void Write(benchmark::State &state, const Writer &write, const TBitmap &bitmap)
{
    std::vector<std::uint8_t> file;
    for (auto _ : state) {
        file = write(bitmap);
        benchmark::DoNotOptimize(file.data());
    }
    if (!QtDecodesTo(file, bitmap))
        state.SkipWithError("Qt does not decode the file to the input's pixels");
    const long long pixels = PixelsOf(bitmap);
    state.counters["file_bytes"] = static_cast<double>(file.size());
    SetPixelCounters(state, pixels, pixels * TBitmap::BytesPerPixel(bitmap.PixelFormat())
                                        + static_cast<long long>(file.size()));
}

std::vector<std::pair<std::string, BenchInput>> Inputs(int tiles)
{
    const std::string name = PcbInputName(tiles);
    std::vector<std::pair<std::string, BenchInput>> inputs = {
        {"fused_" + name, [tiles]() -> const TBitmap & { return PcbFused(tiles); }},
        {"fused16_" + name, [tiles]() -> const TBitmap & { return PcbFused16(tiles, false); }},
        {"edges_" + name, [tiles]() -> const TBitmap & { return PcbEdgeMap(1, tiles); }},
        {"dominance_" + name, [tiles]() -> const TBitmap & { return PcbDominanceMap(tiles); }},
        {"regions_" + name, [tiles]() -> const TBitmap & { return PcbRegionMap(tiles); }}};
    if (tiles > 1)
        inputs.emplace_back("fused16noise_" + name, [tiles]() -> const TBitmap & { return PcbFused16(tiles, true); });
    return inputs;
}

// The writers of every size, then those measured only at 12.6 MP: ours with each filter and at
// the other levels (ours is Paeth at level 1).
std::vector<std::pair<std::string, Writer>> Writers(bool everyVariant)
{
    std::vector<std::pair<std::string, Writer>> writers = {
        {"ours", Ours({})},
        {"qt", QtPng},
        {"libspng_level1", [](const TBitmap &bitmap) { return SpngPng(bitmap, 1); }},
        {"zlib_level1", [](const TBitmap &bitmap) { return ZlibPng(bitmap, 1, PngEncoding{}.filter); }},
        {"libdeflate_level1", [](const TBitmap &bitmap) { return LibdeflatePng(bitmap, 1, PngEncoding{}.filter); }},
    };
    if (!everyVariant)
        return writers;
    const std::pair<const char *, PngFilter> filters[] = {
        {"none", PngFilter::None}, {"sub", PngFilter::Sub}, {"up", PngFilter::Up}, {"average", PngFilter::Average}};
    for (const auto &[name, filter] : filters)
        writers.emplace_back(std::string("ours_") + name, Ours({.filter = filter}));
    writers.emplace_back("ours_adaptive", Ours({.adaptive = true}));
    for (const int level : {2, 3})
        writers.emplace_back("ours_level" + std::to_string(level), Ours({.level = level}));
    return writers;
}

} // namespace

void RegisterPngWriteBenchmarks()
{
    if (!HavePcbTriple())
        return;
    for (const int tiles : {1, 2})
        for (const auto &[input, bitmap] : Inputs(tiles))
            for (const auto &[implementation, write] : Writers(tiles == 2))
                Register("PngWrite", implementation, input, [write = write, bitmap = bitmap](benchmark::State &state) {
                    Write(state, write, bitmap());
                });
}
