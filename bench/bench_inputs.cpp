#include "bench_inputs.h"

#include "dominance.h"
#include "edge_strength.h"
#include "focus_stack.h"
#include "picture.h"
#include "region_map.h"
#include "pixel_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <utility>

std::string TestdataDir()
{
    const char *fromEnvironment = std::getenv("EDGEDOM_TESTDATA");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : EDGEDOM_TESTDATA;
}

std::string PcbFile(int index)
{
    return TestdataDir() + "/triples/pcb_fullsize/" + std::to_string(index) + ".png";
}

bool HavePcbTriple()
{
    for (int index = 1; index <= 3; ++index)
        if (!std::filesystem::is_regular_file(PcbFile(index)))
            return false;
    return true;
}

long long PixelsOf(const TBitmap &bitmap) { return static_cast<long long>(bitmap.Width()) * bitmap.Height(); }

TBitmap Tiled(const TBitmap &tile, int tiles)
{
    TBitmap tiled;
    tiled.SetPixelFormat(tile.PixelFormat());
    tiled.SetSize(tile.Width() * tiles, tile.Height() * tiles);
    const std::size_t rowBytes = static_cast<std::size_t>(tile.Width()) * TBitmap::BytesPerPixel(tile.PixelFormat());
    for (int y = 0; y < tiled.Height(); ++y) {
        const std::uint8_t *from = tile.ScanLine(y % tile.Height());
        std::uint8_t *to = tiled.ScanLine(y);
        for (int t = 0; t < tiles; ++t)
            std::memcpy(to + t * rowBytes, from, rowBytes);
    }
    return tiled;
}

namespace {

// The inputs built so far, by name. A map never moves its elements, so references stay valid.
std::map<std::string, TBitmap> &KeptInputs()
{
    static std::map<std::string, TBitmap> inputs;
    return inputs;
}

// Builds an input on its first request and keeps it; later requests get the same bitmap.
template <typename Make>
const TBitmap &Cached(const std::string &key, Make make)
{
    auto found = KeptInputs().find(key);
    if (found == KeptInputs().end())
        found = KeptInputs().emplace(key, make()).first;
    return found->second;
}

std::string Key(const char *what, int a, int b)
{
    return std::string(what) + " " + std::to_string(a) + " " + std::to_string(b);
}

} // namespace

std::string PcbInputName(int tiles) { return "pcb_" + std::to_string(tiles) + "x" + std::to_string(tiles); }

const TBitmap &PcbPicture(int index, int tiles)
{
    return Cached(Key("picture", index, tiles), [&] {
        if (tiles > 1)
            return Tiled(PcbPicture(index, 1), tiles);
        TPicture picture;
        picture.LoadFromFile(PcbFile(index));
        TBitmap bitmap;
        bitmap.Assign(picture.Bitmap());
        bitmap.SetPixelFormat(pf24bit);
        return bitmap;
    });
}

const TBitmap &PcbGrey(int index, int tiles)
{
    return Cached(Key("grey", index, tiles), [&] {
        TBitmap grey;
        grey.Assign(PcbPicture(index, tiles));
        grey.SetPixelFormat(pf8bit);
        return grey;
    });
}

const TBitmap &PcbEdgeMap(int index, int tiles)
{
    return Cached(Key("edges", index, tiles), [&] {
        TBitmap edges;
        edges.Assign(PcbGrey(index, tiles));
        ComputeEdgeStrengthMap(edges);
        return edges;
    });
}

const TBitmap &PcbDominanceMap(int tiles)
{
    return Cached(Key("dominance", 0, tiles), [&] {
        return ComputeDominanceMap(PcbEdgeMap(1, tiles), PcbEdgeMap(2, tiles), PcbEdgeMap(3, tiles));
    });
}

const TBitmap &PcbFused(int tiles)
{
    return Cached(Key("fused", 0, tiles), [&] {
        FocusStack stack(PcbPicture(1, tiles).Width(), PcbPicture(1, tiles).Height(), pf24bit);
        for (int index = 1; index <= 3; ++index)
            stack.Add(PcbPicture(index, tiles));
        return stack.Result();
    });
}

const TBitmap &PcbFused16(int tiles, bool noise)
{
    return Cached(Key("fused16", noise, tiles), [&] {
        TBitmap deep;
        deep.Assign(PcbFused(tiles));
        deep.SetPixelFormat(pf48bit);
        if (!noise)
            return deep;
        std::mt19937 random(20240602);
        std::uniform_int_distribution<int> noise(-128, 128);
        for (int y = 0; y < deep.Height(); ++y) {
            auto *channels = reinterpret_cast<std::uint16_t *>(deep.ScanLine(y));
            for (int i = 0; i < 3 * deep.Width(); ++i)
                channels[i] = static_cast<std::uint16_t>(std::clamp(channels[i] + noise(random), 0, 65535));
        }
        return deep;
    });
}

const TBitmap &PcbRegionMap(int tiles)
{
    return Cached(Key("regions", 0, tiles), [&] {
        TBitmap dominance, regions;
        dominance.Assign(PcbDominanceMap(tiles));
        ComputeRegionMap(dominance, regions, [](const std::string &) {});
        return regions;
    });
}

std::vector<std::string> BinaryPictureFiles()
{
    std::vector<std::string> files;
    const std::filesystem::path folder = TestdataDir() + "/binary";
    std::error_code missing;
    for (const auto &entry : std::filesystem::directory_iterator(folder, missing))
        if (entry.path().extension() == ".png")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

// A pf24bit map of the given size whose pixels hold classes[y * width + x] in all three bytes.
TBitmap ClassMapOf(const std::vector<std::uint8_t> &classes, int width, int height)
{
    TBitmap map;
    map.SetPixelFormat(pf24bit);
    map.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        SpreadToThreeBytes(classes.data() + static_cast<std::size_t>(y) * width, map.ScanLine(y), width);
    return map;
}

} // namespace

const TBitmap &BinaryClassMap(const std::string &fileName)
{
    return Cached("binary " + fileName, [&] {
        TPicture picture;
        picture.LoadFromFile(fileName);
        TBitmap grey;
        grey.Assign(picture.Bitmap());
        grey.SetPixelFormat(pf8bit);
        std::vector<std::uint8_t> classes(static_cast<std::size_t>(PixelsOf(grey)));
        for (int y = 0; y < grey.Height(); ++y) {
            const std::uint8_t *row = grey.ScanLine(y);
            for (int x = 0; x < grey.Width(); ++x)
                classes[static_cast<std::size_t>(y) * grey.Width() + x] = row[x] >= 128 ? 1 : 2;
        }
        return ClassMapOf(classes, grey.Width(), grey.Height());
    });
}

const TBitmap &RandomClassMap(int width, int height)
{
    return Cached(Key("random", width, height), [&] {
        std::mt19937 random(20240601);
        std::uniform_int_distribution<int> anyClass(1, 3);
        std::vector<std::uint8_t> classes(static_cast<std::size_t>(width) * height);
        for (std::uint8_t &k : classes)
            k = static_cast<std::uint8_t>(anyClass(random));
        return ClassMapOf(classes, width, height);
    });
}

namespace {

// The path steps forward onto a pixel that no painted pixel but the one it comes from
// touches by a side, so that a one-pixel gap stays between it and every earlier part of it;
// it turns clockwise when blocked and ends when it cannot step after a turn.
std::vector<std::uint8_t> SpiralClasses(int width, int height)
{
    std::vector<std::uint8_t> classes(static_cast<std::size_t>(width) * height, 2);
    const auto painted = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < width && y < height && classes[static_cast<std::size_t>(y) * width + x] == 1;
    };
    int x = 0, y = 0, dx = 1, dy = 0;
    classes[0] = 1;
    for (bool turned = false;;) {
        const int nx = x + dx, ny = y + dy;
        const bool open = nx >= 0 && ny >= 0 && nx < width && ny < height && !painted(nx + dx, ny + dy)
                          && !painted(nx - dy, ny + dx) && !painted(nx + dy, ny - dx);
        if (open) {
            x = nx;
            y = ny;
            classes[static_cast<std::size_t>(y) * width + x] = 1;
            turned = false;
        } else if (!turned) {
            std::swap(dx, dy); // with the sign change below: right, down, left, up
            dx = -dx;
            turned = true;
        } else {
            return classes;
        }
    }
}

} // namespace

const TBitmap &SpiralClassMap(int width, int height)
{
    return Cached(Key("spiral", width, height), [&] { return ClassMapOf(SpiralClasses(width, height), width, height); });
}

const TBitmap &UniformClassMap(int width, int height, int k)
{
    return Cached(Key("uniform", width, height) + " " + std::to_string(k), [&] {
        const std::vector<std::uint8_t> classes(static_cast<std::size_t>(width) * height, static_cast<std::uint8_t>(k));
        return ClassMapOf(classes, width, height);
    });
}
