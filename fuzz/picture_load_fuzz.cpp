// Fuzz target: arbitrary bytes as a picture file. Probing and loading must give a result or
// raise an Exception; a picture that loads must have passed Probe, with 16 bits kept must be
// as Probe said and round to the ordinary load, goes through the edge strength map and, when
// small, through a PNG save and reload that must give back the same pixels.
#include "edge_strength.h"
#include "exception.h"
#include "file_checks.h"
#include "picture.h"
#include "test_bitmaps.h"

#include <QImageReader>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void Require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "picture_load_fuzz: %s\n", what);
    std::abort();
}

// Pictures are read from files only, so each input is written to a file in a folder of
// this process's own in memory (/dev/shm), removed when the process ends.
struct ScratchFiles {
    std::string folder, input, output;
    ScratchFiles()
    {
        folder = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/edgedom-fuzz-")
                 + std::to_string(getpid());
        mkdir(folder.c_str(), 0700);
        input = folder + "/input";
        output = folder + "/output.png";
    }
    ~ScratchFiles()
    {
        std::remove(input.c_str());
        std::remove(output.c_str());
        rmdir(folder.c_str());
    }
};

bool WriteFile(const std::string &name, const std::uint8_t *data, std::size_t size)
{
    std::FILE *file = std::fopen(name.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// Pictures this large take a second or more each and are no more interesting than small
// ones, so the fuzzer skips those whose header announces one; larger still are refused
// from the header by LoadFromFile, cheaply, and are kept. A GIF is decoded at the size of
// its screen (bytes 6 to 9), which its reader does not announce.
bool TooSlowToFuzz(const std::string &name, const std::uint8_t *data, std::size_t bytes)
{
    const auto slow = [](long long pixels) { return pixels > (1LL << 22) && pixels <= TPicture::MaxPixels; };
    QImageReader reader(QString::fromStdString(name));
    const std::optional<ScreenSize> screen = GifScreenSize(data, bytes);
    if (reader.format() == "gif" && screen && slow(static_cast<long long>(screen->width) * screen->height))
        return true;
    const QSize size = reader.size();
    return size.isValid() && slow(static_cast<long long>(size.width()) * size.height());
}

// Saves the picture as PNG, which keeps 8 and 16 bits alike, and checks that it reloads as it was.
void RequireSameAfterPngRoundTrip(const TPicture &picture, const std::string &output)
{
    const TBitmap &bitmap = picture.Bitmap();
    if (static_cast<long long>(bitmap.Width()) * bitmap.Height() > 4096)
        return;
    picture.SaveToFile(output);
    TPicture reloaded;
    reloaded.LoadFromFile(output, PictureDepth::KeepSixteenBits);
    const TBitmap &again = reloaded.Bitmap();
    Require(again.PixelFormat() == bitmap.PixelFormat() && again.Width() == bitmap.Width()
                && Bytes(again) == Bytes(bitmap),
            "PNG save and reload changed the picture");
}

// Loading with 16 bits kept gives what Probe announced, and rounded to 8 bits the picture the
// ordinary load gives.
void RequireSixteenBitsKeptAsAnnounced(const std::string &input, const PictureHeader &header, const TBitmap &eightBits,
                                       const std::string &output)
{
    TPicture picture;
    picture.LoadFromFile(input, PictureDepth::KeepSixteenBits);
    TBitmap &bitmap = picture.Bitmap();
    Require(bitmap.Width() == header.width && bitmap.Height() == header.height,
            "16-bit load gave another size than Probe");
    Require((bitmap.PixelFormat() == pf48bit) == header.sixteenBits, "16-bit load disagrees with Probe on the depth");
    RequireSameAfterPngRoundTrip(picture, output);
    bitmap.SetPixelFormat(eightBits.PixelFormat());
    Require(Bytes(bitmap) == Bytes(eightBits), "16-bit load rounded differs from the 8-bit load");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const ScratchFiles scratch;
    Require(WriteFile(scratch.input, data, size), "cannot write the input file");
    if (TooSlowToFuzz(scratch.input, data, size))
        return 0;

    const std::string opening = "Cannot load " + scratch.input + ": ";
    std::optional<PictureHeader> header;
    try {
        header = TPicture::Probe(scratch.input);
    } catch (const Exception &error) {
        Require(error.Message().rfind(opening, 0) == 0, "probe error does not name the file");
    }
    TPicture picture;
    try {
        picture.LoadFromFile(scratch.input);
    } catch (const Exception &error) {
        Require(error.Message().rfind(opening, 0) == 0, "load error does not name the file");
        Require(picture.Bitmap().Empty(), "failed load changed the picture");
        return 0;
    }
    TBitmap &bitmap = picture.Bitmap();
    Require(!bitmap.Empty(), "load gave an empty picture");
    Require(static_cast<long long>(bitmap.Width()) * bitmap.Height() <= TPicture::MaxPixels,
            "load gave a picture above the pixel limit");
    Require(header.has_value(), "probe refused a picture that loads");

    RequireSameAfterPngRoundTrip(picture, scratch.output);
    RequireSixteenBitsKeptAsAnnounced(scratch.input, *header, bitmap, scratch.output);

    const int width = bitmap.Width(), height = bitmap.Height();
    ComputeEdgeStrengthMap(bitmap);
    Require(bitmap.PixelFormat() == pf8bit && bitmap.Width() == width && bitmap.Height() == height,
            "edge map has another size or format");
    return 0;
}
