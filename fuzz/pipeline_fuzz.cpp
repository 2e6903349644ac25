// Fuzz target: the whole analysis on three small pictures made from the input bytes, the
// region step alone on a dominance map made from them, a focus stack of 2 to 5 pictures
// with the dominance and region maps of as many classes, and a shot whose metadata the bytes
// make, carried into the picture saved. Every step is checked against its rule, written the
// slow way in tests/support, the region map against a flood fill.
#include "dominance.h"
#include "edge_strength.h"
#include "exception.h"
#include "focus_stack.h"
#include "picture.h"
#include "reference_rules.h"
#include "region_map.h"
#include "scratch_files.h"
#include "test_bitmaps.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "pipeline_fuzz: %s\n", what);
    std::abort();
}

// The input, read a byte at a time; past its end every byte is 0.
struct InputBytes {
    const std::uint8_t *data;
    std::size_t size, at = 0;
    std::uint8_t Next() { return at < size ? data[at++] : 0; }
};

TBitmap Filled(InputBytes &input, TPixelFormat format, int width, int height, int valueRange)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * TBitmap::BytesPerPixel(format); ++i)
            bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>(input.Next() % valueRange);
    return bitmap;
}

// Runs the region step for classes 1 to classCount and checks its messages and map against
// the classes (byte 0).
void CheckRegionMap(TBitmap &dominance, const Table &classes, int classCount = 3)
{
    TBitmap regions;
    std::vector<long long> counts;
    ComputeRegionMap(
        dominance, regions,
        [&](const std::string &message) {
            Require(message.rfind("We get max =", 0) == 0, "message is not \"We get max =N\"");
            counts.push_back(std::stoll(message.substr(12)));
        },
        {}, classCount);
    long long expected = 0;
    const long long pixels = static_cast<long long>(dominance.Width()) * dominance.Height();
    Require(counts.size() == static_cast<std::size_t>(classCount), "not one message per class");
    for (int k = 1; k <= classCount; ++k) {
        for (const auto &row : classes)
            expected += std::count(row.begin(), row.end(), k);
        Require(counts[k - 1] == expected, "count is not the pixels of classes 1..k");
        Require(k == 1 || counts[k - 1] >= counts[k - 2], "counts decrease");
    }
    Require(counts.back() <= pixels, "count above W x H");
    Require(regions.PixelFormat() == pf24bit && regions.Width() == dominance.Width()
                && regions.Height() == dominance.Height(),
            "region map has another size or format");
    Require(AllBytesEqual(regions), "region map pixel with unequal bytes");
    const Table map = TableOf(regions);
    for (std::size_t y = 0; y < map.size(); ++y)
        for (std::size_t x = 0; x < map[y].size(); ++x)
            Require(map[y][x] == 0 || map[y][x] == 50 * classes[y][x], "region map pixel neither 0 nor 50 x class");
    Require(map == ReferenceRegionMap(classes, classCount), "region map differs from the flood-fill reference");
    Require(TableOf(dominance) == classes, "region step changed the dominance map");
}

// Byte 0: bit 1..3 the pictures' formats; byte 1, 2: the first's size; byte 3: two bits per
// width and height change of the second and third (+0, +1, +3, -1); then the pixels.
void ThreePictures(InputBytes &input)
{
    const std::uint8_t formats = input.Next();
    const int width = input.Next() % 40, height = input.Next() % 40;
    const std::uint8_t changes = input.Next();
    const int change[] = {0, 1, 3, -1};
    TBitmap pictures[3];
    Table edges[3];
    bool smaller = false;
    for (int i = 0; i < 3; ++i) {
        const int w = i == 0 ? width : std::max(0, width + change[changes >> (4 * i - 4) & 3]);
        const int h = i == 0 ? height : std::max(0, height + change[changes >> (4 * i - 2) & 3]);
        smaller = smaller || w < width || h < height;
        pictures[i] = Filled(input, formats >> (i + 1) & 1 ? pf24bit : pf8bit, w, h, 256);
        TBitmap grey;
        grey.Assign(pictures[i]);
        grey.SetPixelFormat(pf8bit);
        ComputeEdgeStrengthMap(pictures[i]);
        Require(pictures[i].PixelFormat() == pf8bit && pictures[i].Width() == w && pictures[i].Height() == h,
                "edge map has another size or format");
        edges[i] = TableOf(pictures[i]);
        Require(edges[i] == ReferenceEdges(TableOf(grey)), "edge map differs from its rule");
        edges[i].resize(static_cast<std::size_t>(std::min(h, height)));
        for (auto &row : edges[i])
            row.resize(static_cast<std::size_t>(std::min(w, width)));
    }
    TBitmap dominance;
    try {
        dominance = ComputeDominanceMap(pictures[0], pictures[1], pictures[2]);
    } catch (const Exception &) {
        Require(smaller, "pictures of fitting sizes refused");
        return;
    }
    Require(!smaller, "a smaller second or third picture accepted");
    Require(dominance.PixelFormat() == pf24bit && dominance.Width() == width && dominance.Height() == height,
            "dominance map has another size or format");
    Require(AllBytesEqual(dominance), "dominance pixel with unequal bytes");
    const Table classes = TableOf(dominance);
    Require(classes == ReferenceDominance({edges[0], edges[1], edges[2]}), "dominance map differs from its rule");
    CheckRegionMap(dominance, classes);
}

// Byte 0: bit 1 the format; byte 1, 2: the size; then byte 0 of each pixel (0..5) and, for
// pf24bit, its two other bytes, which the region step does not read.
void DominanceMapAlone(InputBytes &input)
{
    const TPixelFormat format = input.Next() & 2 ? pf24bit : pf8bit;
    const int width = input.Next() % 64, height = input.Next() % 64;
    TBitmap dominance;
    dominance.SetPixelFormat(format);
    dominance.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t *pixel = dominance.ScanLine(y) + x * TBitmap::BytesPerPixel(format);
            pixel[0] = input.Next() % 6;
            if (format == pf24bit)
                pixel[1] = input.Next(), pixel[2] = input.Next();
        }
    CheckRegionMap(dominance, TableOf(dominance));
}

// Byte 0: bit 1 the format, bit 2 whether shots have coverage masks; byte 1: the shot count
// (2 to 5); bytes 2, 3: the size; then each shot's pixels and, with masks, a byte per pixel
// (covered unless a multiple of 4). The fused picture is checked against the reference fold;
// the shots' edge maps go through the dominance fold and the region map of as many classes.
void FocusStackOfPictures(InputBytes &input)
{
    const std::uint8_t flags = input.Next();
    const TPixelFormat format = flags & 2 ? pf24bit : pf8bit;
    const int shotCount = 2 + input.Next() % 4, width = input.Next() % 24, height = input.Next() % 24;
    FocusStack stack(width, height, format);
    DominanceFold fold(width, height);
    std::vector<Channels> shots;
    std::vector<Table> masks, edges;
    for (int i = 0; i < shotCount; ++i) {
        TBitmap shot = Filled(input, format, width, height, 256);
        const TBitmap mask = flags & 4 ? Filled(input, pf8bit, width, height, 4) : TBitmap();
        stack.Add(shot, flags & 4 ? &mask : nullptr);
        shots.push_back(ChannelTables(shot));
        if (flags & 4)
            masks.push_back(TableOf(mask));
        ComputeEdgeStrengthMap(shot);
        fold.Add(shot);
        edges.push_back(TableOf(shot));
    }
    const TBitmap fused = stack.Result();
    Require(fused.PixelFormat() == format && fused.Width() == width && fused.Height() == height,
            "fused picture has another size or format");
    Require(ChannelTables(fused) == ReferenceFocusStack(shots, masks), "fused picture differs from the reference fold");
    TBitmap dominance = fold.Result();
    const Table classes = TableOf(dominance);
    Require(classes == ReferenceDominance(edges), "dominance of N maps differs from its rule");
    CheckRegionMap(dominance, classes, shotCount);
}

// A 6 x 4 picture of its own pixels, never damaged.
TPicture SmallPicture()
{
    TPicture picture;
    picture.Assign(ChannelBitmap({PatternTable(6, 4, 1), PatternTable(6, 4, 2), PatternTable(6, 4, 3)}));
    return picture;
}

// A JPEG segment: its marker, its length and the bytes.
std::string Segment(char marker, const std::string &bytes)
{
    const std::size_t length = bytes.size() + 2;
    return std::string{'\xFF', marker, static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + bytes;
}

// Byte 1: where the rest of the input goes in a shot: 0 an APP1 segment of a JPEG (an EXIF
// block when it starts with "Exif\0\0", XMP after XMP's namespace), 1 an APP13 segment (IPTC
// in Photoshop's resources), 2 the whole shot, as a TIFF file; byte 2: the format a picture
// is saved in with the shot's metadata (JPEG, PNG, TIFF, BMP). The metadata must be refused
// naming the shot, or go into the picture whole or not at all (then with one warning), and
// never change its pixels.
void MetadataOfAShot(InputBytes &input)
{
    static const ScratchFolder folder;
    static const std::string jpeg = [] {
        SmallPicture().SaveToFile((folder / "plain.jpg").string(), PictureSaveOptions{});
        return ReadFile(folder / "plain.jpg");
    }();
    input.Next(); // the mode
    const int container = input.Next() % 3;
    const std::string extension = std::array{".jpg", ".png", ".tif", ".bmp"}[input.Next() % 4];
    const std::string rest(reinterpret_cast<const char *>(input.data) + input.at,
                           std::min<std::size_t>(input.size - input.at, 0xFFFF - 2));
    const std::string shot = (folder / (container == 2 ? "shot.tif" : "shot.jpg")).string();
    WriteFile(shot, container == 2 ? rest : jpeg.substr(0, 2) + Segment(container == 0 ? '\xE1' : '\xED', rest)
                                                + jpeg.substr(2));
    PictureMetadata metadata;
    try {
        metadata = PictureMetadata::ReadFrom(shot);
    } catch (const Exception &damaged) {
        Require(damaged.Message().find(shot) != std::string::npos, "a refusal that does not name the shot");
        return;
    }
    (void)metadata.CaptureTime();
    TPicture picture = SmallPicture(), with, without;
    const std::string withName = (folder / ("with" + extension)).string(), withoutName = (folder / ("without" + extension)).string();
    picture.SaveToFile(withoutName, PictureSaveOptions{});
    picture.SetMetadata(metadata);
    int warnings = 0;
    picture.SaveToFile(withName, PictureSaveOptions{.metadataWarning = [&warnings](const std::string &) { ++warnings; }});
    with.LoadFromFile(withName);
    without.LoadFromFile(withoutName);
    Require(Bytes(with.Bitmap()) == Bytes(without.Bitmap()), "the metadata changed the picture's pixels");
    Require(warnings <= 1, "more than one warning for one save");
    const PictureMetadata written = PictureMetadata::ReadFrom(withName); // raises if exiv2 wrote what it calls damaged
    Require(written.Empty() == (metadata.Empty() || warnings == 1 || extension == ".bmp"),
            "metadata written although refused, or lost without a warning");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    InputBytes input{data, size};
    if (data[0] & 0x80)
        FocusStackOfPictures(input);
    else if (data[0] & 0x40)
        MetadataOfAShot(input);
    else if (data[0] & 1)
        DominanceMapAlone(input);
    else
        ThreePictures(input);
    return 0;
}
