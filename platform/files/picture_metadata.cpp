// Reading: exiv2 opens the file and reads its EXIF, XMP and IPTC blocks, of which only what
// belongs to the shot is kept (no thumbnail, no TIFF storage). exiv2 reports some damage by
// throwing and some only as an error message, after which it goes on with what it could read
// (for a corrupt EXIF block, nothing of it); both mean the metadata is damaged.
#include "picture_metadata.h"

#include "exception.h"
#include "exiv2_access.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>
#include <set>

using namespace std::string_literals;

namespace {

Exception Damaged(const std::string &fileName, const std::string &reason)
{
    return Exception("The metadata of " + fileName + " is damaged (" + Exiv2Access::Reason(reason) + ").");
}

// Tags of a TIFF file's first directory that say how the file stores, turns and prints its
// pixels, or point into it: a picture's encoder writes its own (the turn is made upright),
// and a TIFF shot's would make the file unreadable. Also the colour profile (the encoder
// writes the picture's own), the XMP and IPTC blocks (read into their own data) and
// Photoshop's resources, which hold a thumbnail.
const std::set<std::string> StorageTags = {
    "Orientation", "XResolution", "YResolution", "ResolutionUnit", "NewSubfileType", "SubfileType",
    "ImageWidth", "ImageLength", "BitsPerSample", "Compression", "PhotometricInterpretation", "FillOrder",
    "StripOffsets", "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "PlanarConfiguration", "Predictor",
    "TileWidth", "TileLength", "TileOffsets", "TileByteCounts", "SubIFDs", "ExtraSamples", "SampleFormat",
    "JPEGTables", "JPEGInterchangeFormat", "JPEGInterchangeFormatLength", "YCbCrCoefficients",
    "YCbCrSubSampling", "YCbCrPositioning", "ReferenceBlackWhite", "XMLPacket", "IPTCNAA", "ImageResources",
    "ExifTag", "GPSTag", "InterColorProfile"};

// XMP properties of the same kind. (The XMP thumbnail, Xmp.xmp.Thumbnails, goes too.)
const std::set<std::string> StorageProperties = {
    "Xmp.tiff.BitsPerSample", "Xmp.tiff.Compression", "Xmp.tiff.PhotometricInterpretation",
    "Xmp.tiff.SamplesPerPixel", "Xmp.tiff.PlanarConfiguration", "Xmp.tiff.YCbCrSubSampling",
    "Xmp.tiff.YCbCrPositioning"};

bool ShowsTheShot(const std::string &name)
{
    return name.find("Thumbnail") != std::string::npos || name.find("Preview") != std::string::npos;
}

// Whether a tag of the EXIF is the shot's own: those of the camera, the shot and the place,
// but neither the thumbnail's directory (nor a maker note's preview) nor the directories of
// other images in the file, nor the file's storage.
bool ShotsOwn(const Exiv2::Exifdatum &datum)
{
    const std::string group = datum.groupName(), tag = datum.tagName();
    if (group == "Image")
        return StorageTags.count(tag) == 0;
    if (group == "Photo")
        return tag != "InteroperabilityTag";
    if (group == "GPSInfo" || group == "Iop")
        return true;
    return Exiv2::ExifTags::isMakerGroup(group) && !ShowsTheShot(group) && !ShowsTheShot(tag);
}

// Erases the entries of the metadata (EXIF, XMP or IPTC) that drop says.
template <typename Metadata, typename Drop>
void EraseIf(Metadata &metadata, Drop drop)
{
    for (auto entry = metadata.begin(); entry != metadata.end();)
        entry = drop(*entry) ? metadata.erase(entry) : std::next(entry);
}

// Keeps of what exiv2 read only what belongs to the shot, and so to a picture made of it.
void KeepTheShotsOwn(PictureMetadata::Data &data)
{
    EraseIf(data.exif, [](const Exiv2::Exifdatum &datum) { return !ShotsOwn(datum); });
    EraseIf(data.xmp, [](const Exiv2::Xmpdatum &property) {
        return StorageProperties.count(property.key()) != 0 || property.key().rfind("Xmp.xmp.Thumbnails", 0) == 0;
    });
    EraseIf(data.iptc, [](const Exiv2::Iptcdatum &dataset) { return ShowsTheShot(dataset.tagName()); });
}

// The file opened for exiv2, or a null pointer for a format exiv2 reads no metadata from.
std::unique_ptr<Exiv2::Image> OpenForMetadata(const std::string &fileName)
{
    Exiv2::FileIo file(fileName);
    if (file.open() != 0)
        throw Exception("Cannot read the metadata of " + fileName + ": the file could not be opened ("
                        + std::strerror(errno) + ").");
    if (Exiv2::ImageFactory::getType(file) == Exiv2::ImageType::none)
        return nullptr;
    return std::unique_ptr<Exiv2::Image>(Exiv2::ImageFactory::open(fileName).release());
}

// The value of count digits of text from at, or -1 when they are not all digits.
int Digits(const std::string &text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "YYYY:MM:DD HH:MM:SS", as EXIF writes a date and time, in seconds since 1970 read as UTC;
// none when it is not a valid date and time (cameras write blanks or zeros when unset).
std::optional<long long> SecondsOf(const std::string &text)
{
    using namespace std::chrono;
    const bool separated = text.size() >= 19 && text[4] == ':' && text[7] == ':' && text[10] == ' '
                           && text[13] == ':' && text[16] == ':';
    if (!separated || text.find_first_not_of(" \0"s, 19) != std::string::npos)
        return {};
    const int fields[] = {Digits(text, 0, 4), Digits(text, 5, 2),  Digits(text, 8, 2),
                          Digits(text, 11, 2), Digits(text, 14, 2), Digits(text, 17, 2)};
    const year_month_day date{year{fields[0]}, month{static_cast<unsigned>(fields[1])},
                              day{static_cast<unsigned>(fields[2])}};
    if (fields[0] < 0 || !date.ok() || fields[3] < 0 || fields[3] > 23 || fields[4] < 0 || fields[4] > 59
        || fields[5] < 0 || fields[5] > 59)
        return {};
    return sys_days(date).time_since_epoch().count() * 86400LL + fields[3] * 3600 + fields[4] * 60 + fields[5];
}

// The digits of an EXIF sub-second field as a fraction of a second ("25" is 0.25); 0 when
// it holds anything else.
double FractionOf(std::string text)
{
    text.erase(text.find_last_not_of(" \0"s) + 1);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stod(text) / std::pow(10.0, static_cast<double>(text.size()));
}

std::string ValueOf(const Exiv2::ExifData &exif, const char *key)
{
    const auto datum = exif.findKey(Exiv2::ExifKey(key));
    return datum == exif.end() ? std::string() : datum->toString();
}

} // namespace

PictureMetadata PictureMetadata::ReadFrom(const std::string &fileName)
{
    Exiv2Access exiv2;
    auto data = std::make_shared<Data>();
    try {
        const std::unique_ptr<Exiv2::Image> image = OpenForMetadata(fileName);
        if (image == nullptr)
            return {};
        image->readMetadata();
        data->exif = image->exifData();
        data->xmp = image->xmpData();
        data->iptc = image->iptcData();
    } catch (const Exception &) {
        throw;
    } catch (const std::exception &error) { // exiv2's errors, and lengths the file announces that fit no memory
        throw Damaged(fileName, error.what());
    }
    if (!exiv2.FirstError().empty())
        throw Damaged(fileName, exiv2.FirstError());
    KeepTheShotsOwn(*data);
    PictureMetadata metadata;
    if (!data->exif.empty() || !data->xmp.empty() || !data->iptc.empty())
        metadata.data_ = std::move(data);
    return metadata;
}

std::optional<double> PictureMetadata::CaptureTime() const
{
    if (Empty())
        return {};
    const Exiv2Access exiv2;
    const Exiv2::ExifData &exif = data_->exif;
    if (const auto original = SecondsOf(ValueOf(exif, "Exif.Photo.DateTimeOriginal")))
        return static_cast<double>(*original) + FractionOf(ValueOf(exif, "Exif.Photo.SubSecTimeOriginal"));
    if (const auto changed = SecondsOf(ValueOf(exif, "Exif.Image.DateTime")))
        return static_cast<double>(*changed) + FractionOf(ValueOf(exif, "Exif.Photo.SubSecTime"));
    return {};
}
