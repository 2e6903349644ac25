// PNG files as EncodePng writes them, read back by Qt, by libpng and by tests/png_readers.py
// (pngcheck, PIL and a plain decoder), none of which shares code with the writer: grey,
// colour and 16-bit colour, odd widths, one pixel, several bands of rows and several IDAT
// chunks, a colour profile; and every row filter and level the benchmark compares.
#include "picture.h"
#include "png_writer.h"
#include "scratch_files.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColorSpace>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

// A bitmap of pseudo-random bytes, smooth (a slope plus a little noise, which the filters
// predict well) or not at all.
TBitmap Picture(TPixelFormat format, int width, int height, bool smooth)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    std::mt19937 random(static_cast<unsigned>(width * 31 + height));
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * TBitmap::BytesPerPixel(format); ++i)
            bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>(smooth ? (i + y) / 4 + random() % 3 : random());
    return bitmap;
}

// The samples a PNG of the bitmap holds, in the file's order: grey; or red, green, blue, each
// 16-bit one high byte first.
std::string FileSamples(const TBitmap &bitmap)
{
    std::string samples;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t *row = bitmap.ScanLine(y);
        const auto *channels = reinterpret_cast<const std::uint16_t *>(row);
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (bitmap.PixelFormat() == pf8bit)
                samples += static_cast<char>(row[x]);
            else
                for (int c = 2; c >= 0; --c) // blue, green, red in the bitmap
                    if (bitmap.PixelFormat() == pf24bit)
                        samples += static_cast<char>(row[3 * x + c]);
                    else
                        samples += {static_cast<char>(channels[3 * x + c] >> 8), static_cast<char>(channels[3 * x + c])};
        }
    }
    return samples;
}

// Reads every row, untransformed, into samples; false when libpng refuses the file. No object
// with a destructor is made after setjmp, which libpng's errors jump back to.
bool ReadRows(png_structp png, png_infop info, std::string *samples)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    samples->resize(rowBytes * png_get_image_height(png, info));
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
        png_read_row(png, reinterpret_cast<png_bytep>(samples->data()) + rowBytes * y, nullptr);
    png_read_end(png, nullptr);
    return true;
}

// The samples of a PNG file as libpng reads them; "refused" when it refuses the file.
std::string LibpngSamples(const std::string &fileName)
{
    const std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(fileName.c_str(), "rb"), &std::fclose);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file.get());
    std::string samples;
    const bool read = ReadRows(png, info, &samples);
    png_destroy_read_struct(&png, &info, nullptr);
    return read ? samples : "refused";
}

int PngReaders(const fs::path &folder)
{
    const std::string command = "/usr/bin/python3 " EDGEDOM_PNG_READERS " '" + folder.string() + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(PngFiles, EveryReaderGivesBackThePixelsWritten)
{
    const QByteArray displayP3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    struct Case {
        std::string name;
        TPixelFormat format;
        int width, height;
        bool smooth = false, profile = false;
    };
    const std::vector<Case> cases = {
        {"grey one pixel", pf8bit, 1, 1},
        {"grey odd width", pf8bit, 7, 5},
        {"grey smooth, rows in two bands", pf8bit, 3, 50000, true},
        {"colour one pixel", pf24bit, 1, 1},
        {"colour odd width", pf24bit, 5, 3},
        {"colour, several IDAT chunks", pf24bit, 301, 300},
        {"colour smooth with a profile", pf24bit, 64, 48, true, true},
        {"16-bit one pixel", pf48bit, 1, 1},
        {"16-bit odd width", pf48bit, 3, 7},
        {"16-bit smooth with a profile", pf48bit, 33, 20, true, true},
    };
    ScratchFolder folder;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = (folder / (c.name + ".png")).string();
        TPicture written, read;
        written.Assign(Picture(c.format, c.width, c.height, c.smooth));
        if (c.profile) {
            written.SetColourProfile(std::vector<std::uint8_t>(displayP3.begin(), displayP3.end()));
            written.SaveToFile(file, PictureSaveOptions{});
        } else {
            written.SaveToFile(file);
        }
        read.LoadFromFile(file, PictureDepth::KeepSixteenBits);
        EXPECT_TRUE(Bytes(read.Bitmap()) == Bytes(written.Bitmap())) << "Qt";
        EXPECT_EQ(read.ColourProfile(), written.ColourProfile()) << "Qt";
        const std::string samples = FileSamples(written.Bitmap());
        EXPECT_TRUE(LibpngSamples(file) == samples) << "libpng";
        WriteFile(folder / (c.name + ".samples"), samples);
    }
    const int status = PngReaders(folder.Path());
    if (status == 77)
        GTEST_SKIP() << "pngcheck or PIL is missing: scripts/install-deps installs them";
    EXPECT_EQ(status, 0) << "tests/png_readers.py found files that do not hold the pixels written (above)";
}

TEST(PngFiles, EveryFilterAndLevelGivesBackThePixels)
{
    std::vector<PngEncoding> encodings = {{.adaptive = true}};
    for (const PngFilter filter : {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth})
        for (const int level : {1, 2, 3})
            encodings.push_back({.filter = filter, .level = level});
    ScratchFolder folder;
    const std::string file = (folder / "a.png").string();
    for (const TPixelFormat format : {pf8bit, pf24bit, pf48bit})
        for (const PngEncoding &encoding : encodings) {
            SCOPED_TRACE(std::to_string(8 * TBitmap::BytesPerPixel(format)) + "-bit, filter "
                         + std::to_string(static_cast<int>(encoding.filter)) + (encoding.adaptive ? " adaptive" : "")
                         + ", level " + std::to_string(encoding.level));
            const TBitmap bitmap = Picture(format, 150, 100, false); // random: stored blocks at worst
            std::string bytes;
            const std::size_t size = EncodePng(
                bitmap, {},
                [&bytes](std::size_t maxBytes) {
                    bytes.resize(maxBytes);
                    return reinterpret_cast<std::uint8_t *>(bytes.data());
                },
                encoding);
            WriteFile(file, bytes.substr(0, size));
            EXPECT_TRUE(LibpngSamples(file) == FileSamples(bitmap));
        }
}
