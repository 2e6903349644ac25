// Reading PNG: TPicture::LoadFromFile (ours: Qt's reader, then the bitmap made in place)
// beside Qt's reader alone and libspng (decoding and the bitmap made), on pcb 1.png (written
// at zlib's highest level) and on the files EncodePng writes of the tiled triple's outputs.
// Decides whether libspng should read PNG for TPicture.
#include "bench_inputs.h"
#include "benchmarks.h"
#include "exception.h"
#include "picture.h"
#include "png_peers.h"

#include <QTemporaryDir>

#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

// The picture saved by TPicture (as PNG, so by EncodePng) once into a folder kept for the run.
std::string SavedOnce(const std::string &name, const TBitmap &bitmap)
{
    static QTemporaryDir folder;
    if (!folder.isValid())
        throw Exception("Cannot make a temporary folder for the PNG files to read");
    const std::string file = folder.filePath(QString::fromStdString(name + ".png")).toStdString();
    if (!std::filesystem::exists(file)) {
        TPicture picture;
        picture.Assign(bitmap);
        picture.SaveToFile(file);
    }
    return file;
}

void Read(benchmark::State &state, const std::function<long long(const std::string &)> &read,
          const std::function<std::string()> &fileOf)
{
    const std::string file = fileOf();
    long long pixels = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(pixels = read(file));
    const auto fileBytes = static_cast<long long>(std::filesystem::file_size(file));
    SetPixelCounters(state, pixels, fileBytes + 3 * pixels);
}

long long Ours(const std::string &file)
{
    TPicture picture;
    picture.LoadFromFile(file, PictureDepth::KeepSixteenBits);
    return PixelsOf(picture.Bitmap());
}

long long Spng(const std::string &file) { return PixelsOf(SpngReadPng(file)); }

bool SameRows(const TBitmap &a, const TBitmap &b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    const auto rowBytes = static_cast<std::size_t>(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

// libspng, checked after the clock to give the bitmap TPicture loads.
void ReadWithSpng(benchmark::State &state, const std::function<std::string()> &fileOf)
{
    Read(state, Spng, fileOf);
    TPicture picture;
    picture.LoadFromFile(fileOf(), PictureDepth::KeepSixteenBits);
    if (!SameRows(SpngReadPng(fileOf()), picture.Bitmap()))
        state.SkipWithError("libspng does not give the bitmap TPicture loads");
}

} // namespace

void RegisterPngReadBenchmarks()
{
    if (!HavePcbTriple())
        return;
    const std::vector<std::pair<std::string, std::function<std::string()>>> files = {
        {"png_pcb_1x1", [] { return PcbFile(1); }},
        {"fused_pcb_2x2", [] { return SavedOnce("fused", PcbFused(2)); }},
        {"fused16_pcb_2x2", [] { return SavedOnce("fused16", PcbFused16(2, false)); }},
        {"edges_pcb_2x2", [] { return SavedOnce("edges", PcbEdgeMap(1, 2)); }},
        {"dominance_pcb_2x2", [] { return SavedOnce("dominance", PcbDominanceMap(2)); }}};
    for (const auto &[input, file] : files) {
        Register("PngRead", "ours", input, [file = file](benchmark::State &state) { Read(state, Ours, file); });
        Register("PngRead", "qt", input, [file = file](benchmark::State &state) { Read(state, QtDecodePng, file); });
        Register("PngRead", "libspng", input, [file = file](benchmark::State &state) { ReadWithSpng(state, file); });
    }
}
