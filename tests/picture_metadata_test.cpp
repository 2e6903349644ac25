// A shot's metadata through the picture save: read from a photo made with a full set of tags,
// written into a picture made of it adapted to it (upright, its size, no thumbnail, edgedom
// as the software) with the pixels and colour profile of the save without metadata; refused
// by exiv2, left out with a warning; damaged, refused naming the file; and the capture time.
#include "exception.h"
#include "picture.h"
#include "scratch_files.h"
#include "tagged_pictures.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColorSpace>

#include <array>
#include <cstdio>
#include <future>
#include <map>
#include <optional>

namespace {

TBitmap Pattern(int width, int height)
{
    return ChannelBitmap({PatternTable(width, height, 1), PatternTable(width, height, 2), PatternTable(width, height, 3)});
}

std::vector<std::uint8_t> Profile(QColorSpace::NamedColorSpace space)
{
    const QByteArray profile = QColorSpace(space).iccProfile();
    return {profile.begin(), profile.end()};
}

// What a command prints on its standard output.
std::string OutputOf(const std::string &command)
{
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t read; pipe != nullptr && (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, read);
    if (pipe != nullptr)
        pclose(pipe);
    return output;
}

class PictureMetadataFiles : public testing::Test {
protected:
    std::string Path(const std::string &name) const { return (folder_ / name).string(); }

    // A 16 x 12 photo in the file, with an sRGB colour profile and the tags.
    std::string Shot(const std::string &name, const Tags &tags, bool thumbnail = true) const
    {
        TPicture photo;
        photo.Assign(Pattern(16, 12));
        photo.SetColourProfile(Profile(QColorSpace::SRgb));
        photo.SaveToFile(Path(name), PictureSaveOptions{});
        WriteTags(Path(name), tags, thumbnail);
        return Path(name);
    }

    ScratchFolder folder_;
};

} // namespace

TEST_F(PictureMetadataFiles, APictureCarriesTheShotsMetadataAdaptedToIt)
{
    const std::map<std::string, std::string> expected = {
        {"Exif.Image.Make", "Canon"}, {"Exif.Image.Model", "Canon EOS 5D Mark IV"},
        {"Exif.Photo.LensModel", "EF100mm f/2.8L Macro IS USM"}, {"Exif.Photo.ExposureTime", "1/125"},
        {"Exif.Photo.FNumber", "8/1"}, {"Exif.Photo.FocalLength", "100/1"}, {"Exif.Photo.ISOSpeedRatings", "400"},
        {"Exif.Photo.DateTimeOriginal", "2024:05:17 14:03:27"}, {"Exif.Photo.SubSecTimeOriginal", "42"},
        {"Exif.GPSInfo.GPSLatitude", "48/1 51/1 2400/100"}, {"Exif.GPSInfo.GPSLongitudeRef", "E"},
        {"Exif.Image.Copyright", "Jane Doe"}, {"Exif.Canon.OwnerName", "Jane Doe"},
        {"Iptc.Application2.Keywords", "focus stack, macro"}, {"Xmp.dc.subject", "focus stack, macro"},
        // adapted to the picture: its pixels are upright already, and 10 x 6
        {"Exif.Image.Orientation", "1"}, {"Xmp.tiff.Orientation", "1"}, {"Exif.Photo.PixelXDimension", "10"},
        {"Exif.Photo.PixelYDimension", "6"}, {"Exif.Image.Software", "edgedom " EDGEDOM_VERSION}};
    const std::vector<std::uint8_t> displayP3 = Profile(QColorSpace::DisplayP3);
    // The TIFF shot last: its colour profile and storage are tags beside the metadata.
    for (const std::string shot : {"shot.jpg", "shot.png", "shot.tif"}) {
        const PictureMetadata metadata = PictureMetadata::ReadFrom(Shot(shot, ShotTags()));
        for (const std::string extension : {".jpg", ".png", ".tif", ".bmp", ".ppm"}) {
            SCOPED_TRACE(shot + " to " + extension);
            TPicture fused, with, without;
            fused.Assign(Pattern(10, 6));
            if (extension == ".png" || extension == ".tif") // as the fused picture of 16-bit shots
                fused.Bitmap().SetPixelFormat(pf48bit);
            fused.SetColourProfile(displayP3);
            fused.SaveToFile(Path("without" + extension), PictureSaveOptions{});
            fused.SetMetadata(metadata);
            fused.SaveToFile(Path("with" + extension), PictureSaveOptions{});
            if (extension == ".bmp" || extension == ".ppm") { // formats without metadata
                EXPECT_EQ(ReadFile(Path("with" + extension)), ReadFile(Path("without" + extension)));
                continue;
            }
            std::map<std::string, std::string> tags = ReadTags(Path("with" + extension));
            const auto value = [&tags](const std::string &key) { return tags.count(key) ? tags[key] : "(missing)"; };
            for (const auto &[key, text] : expected)
                EXPECT_EQ(value(key), text) << key;
            for (const auto &[key, text] : tags)
                EXPECT_EQ(key.find("Thumbnail"), std::string::npos) << key;
            // The shot's storage and profile tags stay behind; a TIFF picture has its own.
            const bool tiff = extension == ".tif";
            EXPECT_EQ(value("Exif.Image.ImageWidth"), tiff ? "10" : "(missing)");
            EXPECT_EQ(value("Exif.Image.InterColorProfile") != "(missing)", tiff);
            with.LoadFromFile(Path("with" + extension), PictureDepth::KeepSixteenBits);
            without.LoadFromFile(Path("without" + extension), PictureDepth::KeepSixteenBits);
            EXPECT_EQ(Bytes(with.Bitmap()), Bytes(without.Bitmap()));
            EXPECT_EQ(with.ColourProfile(), displayP3);
        }
    }
    // As another reader sees the JPEG made of the TIFF shot.
    EXPECT_EQ(OutputOf("exiftool -S -Make -Model -LensModel -ExposureTime -FNumber -FocalLength -ISO "
                       "-SubSecDateTimeOriginal -GPSPosition -Copyright -Keywords -Subject -Orientation "
                       "-ExifImageWidth -ExifImageHeight -Software -ThumbnailImage -ProfileDescription '"
                       + Path("with.jpg") + "'"),
              "Make: Canon\nModel: Canon EOS 5D Mark IV\nLensModel: EF100mm f/2.8L Macro IS USM\n"
              "ExposureTime: 1/125\nFNumber: 8.0\nFocalLength: 100.0 mm\nISO: 400\n"
              "SubSecDateTimeOriginal: 2024:05:17 14:03:27.42\nGPSPosition: 48 deg 51' 24.00\" N, 2 deg 21' 3.00\" E\n"
              "Copyright: Jane Doe\nKeywords: focus stack, macro\nSubject: focus stack, macro\n"
              "Orientation: Horizontal (normal)\nExifImageWidth: 10\nExifImageHeight: 6\n"
              "Software: edgedom " EDGEDOM_VERSION "\nProfileDescription: Display P3\n");
}

// What exiv2 cannot write is not half written: the picture is saved without the metadata and
// the warning says why, or without a warning callback the save fails and writes nothing.
TEST_F(PictureMetadataFiles, MetadataExiv2RefusesIsLeftOutWithAWarning)
{
    const std::vector<std::pair<Tags, std::string>> cases = {
        {{{"Exif.Image.Make", "Canon"}, {"Xmp.dc.description", std::string(70000, 'x')}}, "XMP"},
        {{{"Exif.Image.Make", "Canon"}, {"Exif.Photo.UserComment", std::string(70000, 'x')}}, "UserComment"},
    };
    for (const auto &[tags, reason] : cases) {
        SCOPED_TRACE(reason);
        TPicture fused, with, without;
        fused.Assign(Pattern(10, 6));
        fused.SaveToFile(Path("without.jpg"), PictureSaveOptions{});
        fused.SetMetadata(PictureMetadata::ReadFrom(Shot("shot.tif", tags, false)));
        std::vector<std::string> warnings;
        fused.SaveToFile(Path("with.jpg"),
                         PictureSaveOptions{.metadataWarning = [&](const std::string &why) { warnings.push_back(why); }});
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(reason), std::string::npos) << warnings[0];
        EXPECT_TRUE(ReadTags(Path("with.jpg")).empty());
        with.LoadFromFile(Path("with.jpg"));
        without.LoadFromFile(Path("without.jpg"));
        EXPECT_EQ(Bytes(with.Bitmap()), Bytes(without.Bitmap()));
        try {
            fused.SaveToFile(Path("unwarned.jpg"), PictureSaveOptions{});
            ADD_FAILURE() << "saved without a word";
        } catch (const Exception &failure) {
            EXPECT_EQ(failure.Message().rfind("Cannot save " + Path("unwarned.jpg") + ": its metadata could not", 0), 0u)
                << failure.Message();
        }
        EXPECT_FALSE(fs::exists(Path("unwarned.jpg")));
    }
}

TEST_F(PictureMetadataFiles, DamagedMetadataIsRefusedNamingTheFileAndNoneIsEmpty)
{
    const std::string jpeg = Jpeg(8, 8, JCS_RGB, std::string(8 * 8 * 3, '\x40'));
    const auto withSegment = [&jpeg](const std::string &marker, const std::string &block) {
        return jpeg.substr(0, 2) + marker + BigEndian(static_cast<std::uint32_t>(block.size() + 2), 2) + block
               + jpeg.substr(2);
    };
    const std::string tagged = ReadFile(Shot("tagged.jpg", ShotTags()));
    const std::string exif = tagged.substr(tagged.find("Exif\0\0"s), 600);
    std::string tooManyEntries = exif;
    tooManyEntries[6 + 8] = tooManyEntries[6 + 9] = '\xFF'; // the first directory's entry count
    const std::vector<std::pair<std::string, std::string>> cases = { // name, bytes; no bytes: no metadata
        {"not a TIFF block.jpg", withSegment("\xFF\xE1", "Exif\0\0"s + std::string(40, 'U'))},
        {"too many entries.jpg", withSegment("\xFF\xE1", tooManyEntries)},
        {"cut inside the directory.jpg", withSegment("\xFF\xE1", exif.substr(0, 20))},
        {"broken XMP.jpg", withSegment("\xFF\xE1", "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta><rdf:RDF><rdf:Desc"s)},
        {"cut file.jpg", tagged.substr(0, tagged.find("Exif\0\0"s) + 100)},
        {"plain.jpg", ""},
        {"plain.png", ""},
        {"plain.tif", ""}, // its storage tags are no metadata of a shot (found by the fuzzer)
        {"plain.bmp", ""},
        {"plain.ppm", ""},
    };
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        if (bytes.empty()) {
            TPicture plain;
            plain.Assign(Pattern(4, 3));
            plain.SaveToFile(Path(name), PictureSaveOptions{});
            EXPECT_TRUE(PictureMetadata::ReadFrom(Path(name)).Empty());
            continue;
        }
        WriteFile(folder_ / name, bytes);
        try {
            PictureMetadata::ReadFrom(Path(name));
            ADD_FAILURE() << "damage not seen";
        } catch (const Exception &damage) {
            EXPECT_EQ(damage.Message().rfind("The metadata of " + Path(name) + " is damaged (", 0), 0u) << damage.Message();
        }
    }
    try {
        PictureMetadata::ReadFrom(Path("missing.jpg"));
        ADD_FAILURE() << "a missing file read";
    } catch (const Exception &failure) {
        EXPECT_NE(failure.Message().find(Path("missing.jpg") + ": the file could not be opened"), std::string::npos);
    }
}

TEST_F(PictureMetadataFiles, CaptureTimeIsTheOriginalsWithItsSubSecondsAsUtc)
{
    const std::string original = "Exif.Photo.DateTimeOriginal", changed = "Exif.Image.DateTime";
    const double may17 = 1715954607; // 2024-05-17 14:03:27 UTC
    const std::vector<std::pair<Tags, std::optional<double>>> cases = {
        {{{original, "2024:05:17 14:03:27"}, {"Exif.Photo.SubSecTimeOriginal", "42"}}, may17 + 0.42},
        {{{original, "2024:05:17 14:03:27"}, {"Exif.Photo.SubSecTimeOriginal", "042"}}, may17 + 0.042},
        {{{original, "2024:05:17 14:03:27"}, {changed, "2024:05:17 14:05:00"}, {"Exif.Photo.SubSecTime", "5"}}, may17},
        {{{changed, "2024:05:17 14:05:00"}, {"Exif.Photo.SubSecTime", "5"}}, may17 + 93.5},
        {{{original, "0000:00:00 00:00:00"}, {changed, "2024:02:29 00:00:00"}}, 1709164800},
        {{{original, "1969:12:31 23:59:59"}, {"Exif.Photo.SubSecTimeOriginal", "x1"}}, -1},
        {{{original, "2023:02:29 12:00:00"}}, std::nullopt},
        {{{original, "    :  :     :  :  "}}, std::nullopt},
        {{{original, "2024:05:17 24:00:00"}}, std::nullopt},
        {{{"Xmp.dc.rights", "Jane Doe"}}, std::nullopt},
    };
    for (const auto &[tags, seconds] : cases) {
        SCOPED_TRACE(testing::PrintToString(tags));
        const std::optional<double> time = PictureMetadata::ReadFrom(Shot("shot.jpg", tags, false)).CaptureTime();
        ASSERT_EQ(time.has_value(), seconds.has_value());
        if (seconds) {
            EXPECT_NEAR(*time, *seconds, 1e-6);
        }
    }
    EXPECT_FALSE(PictureMetadata().CaptureTime());
}

// Only the picture save writes the metadata, and a picture made anew carries none: a map
// computed in a picture's bitmap never shows the shot's camera and place.
TEST_F(PictureMetadataFiles, MapsAndNewPicturesCarryNone)
{
    TPicture picture;
    picture.Assign(Pattern(10, 6));
    picture.SetMetadata(PictureMetadata::ReadFrom(Shot("shot.jpg", ShotTags())));
    picture.SaveToFile(Path("map.png"));
    EXPECT_TRUE(ReadTags(Path("map.png")).empty());
    TPicture loaded = picture, assigned = picture;
    loaded.LoadFromFile(Path("map.png"));
    assigned.Assign(picture.Bitmap());
    EXPECT_TRUE(loaded.Metadata().Empty());
    EXPECT_TRUE(assigned.Metadata().Empty());
}

// A batch fuses stacks in parallel: metadata read and written on several threads at once.
TEST_F(PictureMetadataFiles, ManyThreadsReadAndWriteMetadataAtOnce)
{
    const std::string shot = Shot("shot.tif", ShotTags());
    std::vector<std::future<void>> saves;
    for (int i = 0; i < 12; ++i)
        saves.push_back(std::async(std::launch::async, [&, i] {
            TPicture fused;
            fused.Assign(Pattern(40, 30));
            fused.SetMetadata(PictureMetadata::ReadFrom(shot));
            fused.SaveToFile(Path(std::to_string(i) + std::array{".jpg", ".png", ".tif"}[i % 3]), PictureSaveOptions{});
        }));
    for (std::future<void> &save : saves)
        save.get();
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(ReadTags(Path(std::to_string(i) + std::array{".jpg", ".png", ".tif"}[i % 3]))["Exif.Image.Model"],
                  "Canon EOS 5D Mark IV");
}
