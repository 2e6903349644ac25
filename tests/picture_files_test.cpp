// TPicture's files: lossless round trips, odd pictures read as they look, and every kind of
// file that cannot be read or written, each refused with a message naming the file and the
// reason while the picture, and any earlier file, stays as it was.
#include "exception.h"
#include "picture.h"
#include "picture_bytes.h"
#include "scratch_files.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColorSpace>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>

namespace {

// A bitmap of pseudo-random bytes: a swapped channel, a shifted row or lost row padding
// shows, and no format compresses it much.
TBitmap Pattern(TPixelFormat format, int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * TBitmap::BytesPerPixel(format); ++i)
            bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return bitmap;
}

// The message of the Exception that action raises; fails the test when it raises none.
template <typename Action>
std::string FailureOf(Action action)
{
    try {
        action();
    } catch (const Exception &error) {
        return error.Message();
    }
    ADD_FAILURE() << "no Exception was raised";
    return {};
}

class PictureFiles : public testing::Test {
protected:
    std::string Path(const std::string &name) const { return (folder_ / name).string(); }

    ScratchFolder folder_;
};

} // namespace

TEST_F(PictureFiles, EveryLosslessFormatGivesBackTheSameBytes)
{
    for (const TPixelFormat format : {pf8bit, pf24bit, pf48bit})
        for (const std::string name : {"a.bmp", "a", "a.png", "a.PNG", "a.tif", "a.tiff", "a.ppm", "a.pgm"}) {
            const bool eightBitsOnly = name == "a.bmp" || name == "a" || name == "a.ppm" || name == "a.pgm";
            if ((format == pf24bit && name == "a.pgm") || (format == pf48bit && eightBitsOnly))
                continue;
            for (const int width : {1, 5, 7}) {
                SCOPED_TRACE(name + " " + std::to_string(TBitmap::BytesPerPixel(format) * 8) + "-bit width "
                             + std::to_string(width));
                TPicture saved, loaded, eightBits;
                saved.Assign(Pattern(format, width, 3));
                saved.SaveToFile(Path(name));
                loaded.LoadFromFile(Path(name), PictureDepth::KeepSixteenBits); // 8-bit files load as always
                TBitmap expected = Pattern(format, width, 3);
                if (name == "a.ppm") // a colour format: grey comes back in all three bytes
                    expected.SetPixelFormat(pf24bit);
                EXPECT_EQ(loaded.Bitmap().PixelFormat(), expected.PixelFormat());
                EXPECT_EQ(loaded.Bitmap().Width(), width);
                EXPECT_EQ(Bytes(loaded.Bitmap()), Bytes(expected));
                // Loaded as 8 bits, a 16-bit file rounds as the bitmap does.
                eightBits.LoadFromFile(Path(name));
                if (format == pf48bit)
                    expected.SetPixelFormat(pf24bit);
                EXPECT_EQ(Bytes(eightBits.Bitmap()), Bytes(expected));
            }
        }
    EXPECT_EQ(ReadFile(Path("a")).substr(0, 2), "BM"); // a name without extension holds BMP
}

TEST_F(PictureFiles, OddPicturesLoadAsTheyLook)
{
    const Table greys = {{0, 85, 170}, {255, 170, 85}}; // 3 x 2, as most files below show it
    // Each grey repeated in 16 bits (v * 257 reads as v), and in all three 16-bit channels.
    const auto sixteenBit = [&greys](int channels) {
        return [&greys, channels](std::uint32_t y) {
            std::string row;
            for (const int grey : greys[y])
                row += std::string(static_cast<std::size_t>(2 * channels), static_cast<char>(grey));
            return row;
        };
    };
    // Red 200, green 100, blue 50 with alpha 0 and 128; in 16 bits each byte repeated (v * 257).
    const std::string transparent = "\xC8\x64\x32\0\xC8\x64\x32\x80"s;
    std::string transparent16;
    for (const char byte : transparent)
        transparent16 += {byte, byte};
    std::string cmyk; // inverted, as photo editors store it: cyan, then a 50% black, in 8 x 8 blocks
    for (int i = 0; i < 8 * 16; ++i)
        cmyk += i % 16 < 8 ? "\x00\xFF\xFF\xFF"s : "\xFF\xFF\xFF\x7F"s;
    // An 8-bit BMP of 256 pixels, indices 0 to 255, over a palette of white and black only.
    std::string pastThePalette = Bmp24Header(256, 1);
    pastThePalette[10] = 62, pastThePalette[28] = 8, pastThePalette[46] = 2; // pixels' offset, bits, colours
    pastThePalette += "\xFF\xFF\xFF\0\0\0\0\0"s;
    for (int index = 0; index < 256; ++index)
        pastThePalette += static_cast<char>(index);
    Table whiteThenBlack(1, std::vector<int>(256, 0));
    whiteThenBlack[0][0] = 255;
    const Table cmykGreys(8, {179, 179, 179, 179, 179, 179, 179, 179, 127, 127, 127, 127, 127, 127, 127, 127});
    struct Case {
        std::string name, bytes;
        TPixelFormat format;
        Table greys; // after conversion to pf8bit
        int tolerance = 0;
        PictureDepth depth = PictureDepth::EightBits;
    };
    const std::vector<Case> cases = {
        {"16-bit grey.png", Png(3, 2, 0, 16, sixteenBit(1)), pf8bit, greys},
        {"16-bit colour.png", Png(3, 2, 2, 16, sixteenBit(3)), pf24bit, greys},
        {"16-bit grey kept.png", Png(3, 2, 0, 16, sixteenBit(1)), pf48bit, greys, 0, PictureDepth::KeepSixteenBits},
        {"16-bit transparent colour.png", Png(2, 1, 6, 16, [&](std::uint32_t) { return transparent16; }), pf48bit,
         {{124, 124}}, 0, PictureDepth::KeepSixteenBits},
        {"2-bit grey palette.png", // indices 0, 1, 2 and 3, 2, 1
         Png(3, 2, 3, 2, [](std::uint32_t y) { return std::string(1, y == 0 ? '\x18' : '\xE4'); },
             "\0\0\0\x55\x55\x55\xAA\xAA\xAA\xFF\xFF\xFF"s),
         pf8bit, greys},
        {"colour palette.png", Png(2, 1, 3, 8, [](std::uint32_t) { return "\0\1"s; }, "\xC8\x64\x32\1\2\3"s), pf24bit,
         {{124, 2}}},
        {"transparent colour.png", Png(2, 1, 6, 8, [&](std::uint32_t) { return transparent; }), pf24bit,
         {{124, 124}}}, // alpha dropped, not blended
        {"cmyk.jpg", Jpeg(16, 8, JCS_CMYK, cmyk), pf24bit, cmykGreys, 3},
        // Qt's conversion read the memory past the palette for indices 2 to 255. (Found by the fuzzer.)
        {"indices past the palette.bmp", pastThePalette, pf8bit, whiteThenBlack},
        {"animated.gif", // two frames over a palette of four greys; the first one counts
         "GIF89a\x03\0\x02\0\xF1\0\0\0\0\0\x55\x55\x55\xAA\xAA\xAA\xFF\xFF\xFF\x21\xFF\x0BNETSCAPE2.0\x03\x01\0\0\0"
         "\x21\xF9\x04\x04\x0A\0\0\0,\0\0\0\0\x03\0\x02\0\0\x02\x05\x04\x43\x71\x14\x53\0"
         "\x21\xF9\x04\x04\x0A\0\0\0,\0\0\0\0\x03\0\x02\0\0\x02\x05\x1C\xC7\x11\x04\x51\0;"s,
         pf24bit, greys},
        {"Zoë's été – 2 copies.png", GreyPng(greys), pf8bit, greys},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TPicture picture;
        picture.LoadFromFile(WriteFile(folder_ / c.name, c.bytes).string(), c.depth);
        TBitmap &loaded = picture.Bitmap();
        EXPECT_EQ(loaded.PixelFormat(), c.format);
        loaded.SetPixelFormat(pf8bit);
        const Table got = TableOf(loaded);
        ASSERT_EQ(std::pair(loaded.Width(), loaded.Height()), std::pair(int(c.greys[0].size()), int(c.greys.size())));
        for (std::size_t y = 0; y < got.size(); ++y)
            for (std::size_t x = 0; x < got[y].size(); ++x)
                EXPECT_NEAR(got[y][x], c.greys[y][x], c.tolerance) << "at x=" << x << " y=" << y;
    }
}

TEST_F(PictureFiles, ProbeTellsWhatLoadingGives)
{
    // An EXIF block whose orientation tag (6) says the camera was turned a quarter: the JPEG,
    // stored 4 x 2, shows 2 x 4.
    const std::string exif = "Exif\0\0II*\0"s + LittleEndian(8, 4) + LittleEndian(1, 2) + LittleEndian(0x112, 2)
                             + LittleEndian(3, 2) + LittleEndian(1, 4) + LittleEndian(6, 4) + LittleEndian(0, 4);
    const std::string jpeg = Jpeg(4, 2, JCS_RGB, std::string(24, '\x40'));
    TPicture deep;
    deep.Assign(Pattern(pf48bit, 3, 2));
    deep.SaveToFile(Path("16-bit colour.tif"));
    const std::vector<std::tuple<std::string, std::string, PictureHeader>> cases = {
        {"grey.png", GreyPng(Table(2, {1, 2, 3})), {3, 2, false, true}},
        {"16-bit grey.png", Png(3, 2, 0, 16, [](std::uint32_t) { return std::string(6, '\x40'); }), {3, 2, true, true}},
        {"16-bit colour.tif", "", {3, 2, true, false}},
        // Stored top down, which Qt's reader tells as a negative height. (Found by the fuzzer.)
        {"top-down.bmp", Bmp24Header(3, static_cast<std::uint32_t>(-2)) + std::string(24, '\x40'),
         {3, 2, false, false}},
        {"turned.jpg", jpeg.substr(0, 2) + "\xFF\xE1"s + BigEndian(exif.size() + 2, 2) + exif + jpeg.substr(2),
         {2, 4, false, false}},
    };
    for (const auto &[name, bytes, expected] : cases) {
        SCOPED_TRACE(name);
        if (!bytes.empty())
            WriteFile(folder_ / name, bytes);
        const PictureHeader header = TPicture::Probe(Path(name));
        EXPECT_EQ(header, expected);
        TPicture loaded;
        loaded.LoadFromFile(Path(name), PictureDepth::KeepSixteenBits);
        const TBitmap &bitmap = loaded.Bitmap();
        EXPECT_EQ(PictureHeader({bitmap.Width(), bitmap.Height(), bitmap.PixelFormat() == pf48bit, header.grey}),
                  header);
    }
}

TEST_F(PictureFiles, UnreadableFilesAreRefusedNamingFileAndReasonAndThePictureIsKept)
{
    std::string photoPixels; // enough detail that most of the JPEG is pixel data
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x)
            photoPixels += {static_cast<char>(x), static_cast<char>(y), static_cast<char>(x ^ y)};
    const std::string photo = Jpeg(256, 192, JCS_RGB, photoPixels), png = GreyPng(Table(40, std::vector<int>(50, 7)));
    const std::string pngHeader = "\x89PNG\r\n\x1a\n"s;
    const std::string tooManyPixels = "30000 x 30000 pixels (900000000 pixels), more than the 268435456";
    struct Case {
        std::string name, bytes, reason; // no bytes: made beforehand, or missing
        bool inPixels = false;           // the fault lies past the header
    };
    const std::vector<Case> cases = {
        {"missing.png", "", "does not exist"},
        {"whole", "", "does not exist"}, // not whole.png, which Qt's reader would try
        {"folder.png", "", "folder"},
        {"empty.png", "", "empty"},
        {"truncated.png", png.substr(0, png.size() / 2), "damaged or incomplete", true},
        {"bad checksum.png", png.substr(0, 30) + "X" + png.substr(31), "damaged or incomplete"},
        {"truncated.jpg", photo.substr(0, photo.size() * 2 / 3), "truncated"},
        {"truncated.bmp", Bmp24Header(50, 40) + std::string(50 * 3 * 30, '\x07'), "truncated"}, // 30 of 40 rows
        {"damaged.jpg", photo.substr(0, 200) + std::string(40, '\xFF') + photo.substr(240), "damaged"},
        {"notes.png", "These are notes, not a picture.\n", "not a picture"},
        {"notes.jpg", "\xFF\xD8 and then only notes.\n", "damaged"},
        {"short.tga", "\0\0\x02"s + std::string(9, '\0') + "\0\0\0\0\x18\0"s, "not a picture"},
        {"zero.pgm", "P5\n0 0\n255\n", "damaged or incomplete"},
        {"zero-wide.bmp", Bmp24Header(0, 4), "damaged or incomplete"},
        {"zero.gif", "GIF89a\0\0\0\0\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\0\0\0\0\0\x02\x02\x44\x01\0;"s,
         "damaged or incomplete"},
        // Headers announcing more than the pixel limit but within what Qt's readers take, so that
        // only the check of the header stands between each and gigabytes of memory.
        {"huge.png",
         pngHeader + PngChunk("IHDR", BigEndian(100000, 4) + BigEndian(100000, 4) + "\x08\x02\0\0\0"s)
             + PngChunk("IDAT", "") + PngChunk("IEND", ""),
         "100000 x 100000 pixels (10000000000 pixels), more than"},
        {"huge.pgm", "P5\n30000 30000\n255\n" + std::string(4096, '\0'), tooManyPixels},
        {"huge.jpg",
         "\xFF\xD8\xFF\xC0\0\x0B\x08"s + BigEndian(30000, 2) + BigEndian(30000, 2)
             + "\x01\x01\x11\0\xFF\xDA\0\x08\x01\x01\0\0\x3F\0\xFF\xD9"s,
         tooManyPixels},
        // Qt's GIF reader announces the 1 x 1 frame but decodes the 30000 x 30000 screen.
        {"huge screen.gif",
         "GIF89a" + LittleEndian(30000, 2) + LittleEndian(30000, 2) + "\x80\0\0\0\0\0\xFF\xFF\xFF,"s
             + LittleEndian(0, 4) + LittleEndian(1, 2) + LittleEndian(1, 2) + "\0\x02\x02\x44\x01\0;"s,
         tooManyPixels},
        {"huge.tif", TiffHeader(30000, 30000) + std::string(4096, '\0'), tooManyPixels},
        // Qt's BMP reader refuses sides above 16384 itself.
        {"huge.bmp", Bmp24Header(30000, 30000) + std::string(4096, '\0'), "damaged or incomplete"},
        // 89 bytes whose IHDR announces 16777216 x 47 pixels: decoding took 10 s and 3 GB
        // before it failed. (Found by the fuzzer.)
        {"huge.mng",
         "\x8AMNG\r\n\x1A\n\0\0\0\x0DIHDR\x01\0\0\0\0\0\0\x2F\x08\x04\0\0\0\xFC\x21\x7D\x34\0\0\0"
         "\x1EIDD\0AT\x78\x9C\x63\xF0\xFD\x75\x5D\x44\x7D\x01\xC3\xBA\xCD\xFF\x5E\x2A\xEB\x31"
         "\x74\x7D\x52\x94\x9F\xF7\x04\0\0\0\0\0\0\0\0\xD9\0\0\0\0IEND\xAE\x42\x60\x82"s,
         "MNG file does not tell the picture's size"},
    };
    fs::create_directory(folder_ / "folder.png");
    WriteFile(folder_ / "empty.png", "");
    WriteFile(folder_ / "whole.png", png);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.bytes.empty())
            WriteFile(folder_ / c.name, c.bytes);
        TPicture picture;
        picture.Assign(Pattern(pf24bit, 3, 2));
        std::vector<std::string> messages = {FailureOf([&] { picture.LoadFromFile(Path(c.name)); })};
        EXPECT_EQ(Bytes(picture.Bitmap()), Bytes(Pattern(pf24bit, 3, 2)));
        // Probe refuses the file alike, unless the fault lies in the pixel data.
        if (c.inPixels)
            EXPECT_NO_THROW(TPicture::Probe(Path(c.name)));
        else
            messages.push_back(FailureOf([&] { TPicture::Probe(Path(c.name)); }));
        const std::string opening = "Cannot load " + Path(c.name) + ": ";
        for (const std::string &message : messages) {
            EXPECT_EQ(message.substr(0, opening.size()), opening);
            EXPECT_NE(message.find(c.reason, opening.size()), std::string::npos) << message;
        }
    }
}

TEST_F(PictureFiles, RefusedSavesLeaveNoFileBehind)
{
    const std::string lossless = ".bmp, .png, .tif, .tiff, .ppm, .pgm";
    struct Case {
        std::string name, reason;
        std::optional<int> jpegQuality = {}; // the picture save at this quality; none: the map save
        TPixelFormat format = pf24bit;
    };
    const std::vector<Case> cases = {
        {"a.jpg", lossless}, {"a.JPEG", lossless}, {"a.webp", lossless}, {"a.gif", lossless}, {"a.xyz", lossless},
        {"colour.pgm", "holds only grey values"},
        {"16-bit.pgm", "holds only grey values", 95, pf48bit},
        {"16-bit.bmp", "holds 8 bits a channel and this picture has 16", {}, pf48bit},
        {"a.webp", "not a format this program writes pictures in. Use " + lossless + ", .jpg, .jpeg", 95},
        {"low.jpg", "JPEG quality must be from 1 to 100, not 0", 0},
        {"high.jpg", "JPEG quality must be from 1 to 100, not 101", 101},
        {"no such folder/a.png", "could not be created"},
        {"folder", "it is a folder"},
        {"pipe.bmp", "not a regular file"}, // replacing a pipe or a device would make it a plain file
    };
    fs::create_directory(folder_ / "folder");
    ASSERT_EQ(mkfifo(Path("pipe.bmp").c_str(), 0600), 0);
    for (const Case &c : cases) {
        TPicture picture;
        picture.Assign(Pattern(c.format, 3, 2));
        const std::string message = FailureOf([&] {
            if (c.jpegQuality)
                picture.SaveToFile(Path(c.name), PictureSaveOptions{.jpegQuality = *c.jpegQuality});
            else
                picture.SaveToFile(Path(c.name));
        });
        EXPECT_EQ(message.rfind("Cannot save " + Path(c.name) + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    EXPECT_EQ(FailureOf([&] { TPicture().SaveToFile(Path("a.png")); }), "There is nothing to save: the picture is empty.");
    EXPECT_EQ(Listing(folder_.Path()), (std::set<std::string>{"folder", "pipe.bmp"}));
    struct stat status {};
    ASSERT_EQ(stat(Path("pipe.bmp").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(PictureFiles, ShortWriteKeepsTheExistingFile)
{
    // About 57 KB in every format; and 7 KB of BMP, small enough to wait in a write buffer
    // whose failed flush once passed for success.
    const std::vector<std::tuple<std::string, int, int, rlim_t>> cases = {
        {"old.bmp", 160, 120, 4096}, {"old.png", 160, 120, 4096}, {"old.tif", 160, 120, 4096},
        {"old.ppm", 160, 120, 4096}, {"small.bmp", 60, 40, 1024}};
    for (const auto &[name, width, height, limit] : cases) {
        SCOPED_TRACE(name);
        WriteFile(folder_ / name, "the old file");
        TPicture picture;
        picture.Assign(Pattern(pf24bit, width, height));
        const std::string message = [&, limit = limit] {
            const FileSizeLimit fileSizeLimit(limit);
            return FailureOf([&] { picture.SaveToFile(Path(name)); });
        }();
        EXPECT_EQ(message.rfind("Cannot save " + Path(name) + ": ", 0), 0u) << message;
        EXPECT_NE(message.find("free space"), std::string::npos) << message;
        EXPECT_EQ(ReadFile(folder_ / name), "the old file");
        EXPECT_EQ(Listing(folder_.Path()), std::set<std::string>{name}); // no temporary file left
        fs::remove(folder_ / name);
    }
}

TEST_F(PictureFiles, ThePictureSaveRoundsSixteenBitsForEightBitFormats)
{
    TPicture deep, rounded;
    deep.Assign(Pattern(pf48bit, 5, 3));
    rounded.Assign(Pattern(pf48bit, 5, 3));
    rounded.Bitmap().SetPixelFormat(pf24bit);
    for (const std::string extension : {".bmp", ".ppm", ".jpg", ".jpeg"}) {
        SCOPED_TRACE(extension);
        deep.SaveToFile(Path("deep" + extension), PictureSaveOptions{});
        rounded.SaveToFile(Path("rounded" + extension), PictureSaveOptions{});
        EXPECT_EQ(ReadFile(folder_ / ("deep" + extension)), ReadFile(folder_ / ("rounded" + extension)));
    }
    // The quality reaches the JPEG writer.
    rounded.SaveToFile(Path("low.jpg"), PictureSaveOptions{.jpegQuality = 1});
    EXPECT_LT(fs::file_size(folder_ / "low.jpg"), fs::file_size(folder_ / "rounded.jpg"));
}

TEST_F(PictureFiles, OnlyThePictureSaveWritesTheColourProfile)
{
    const QByteArray displayP3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    const std::vector<std::uint8_t> profile(displayP3.begin(), displayP3.end());
    for (const std::string name : {"a.png", "a.tif", "a.jpg"}) {
        SCOPED_TRACE(name);
        TPicture picture, loaded, map;
        picture.Assign(Pattern(pf48bit, 5, 3));
        picture.SetColourProfile(profile);
        picture.SaveToFile(Path(name), PictureSaveOptions{});
        loaded.LoadFromFile(Path(name));
        EXPECT_EQ(loaded.ColourProfile(), profile);
        // A map made in the loaded picture's bitmap is saved without it, and so is a grey
        // picture, since the profile is an RGB one.
        loaded.SaveToFile(Path("map.png"));
        loaded.Bitmap().SetPixelFormat(pf8bit);
        loaded.SaveToFile(Path("grey" + name.substr(1)), PictureSaveOptions{});
        for (const std::string &saved : {std::string("map.png"), "grey" + name.substr(1)}) {
            map.LoadFromFile(Path(saved));
            EXPECT_TRUE(map.ColourProfile().empty()) << saved;
        }
    }
}
