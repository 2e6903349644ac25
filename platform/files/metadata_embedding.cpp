// Embedding: exiv2 opens the encoded file in memory, reads what the encoder wrote, and writes
// it back with the shot's metadata into new memory; the encoded file itself is left as it was.
#include "metadata_embedding.h"

#include "exception.h"
#include "exiv2_access.h"

#include <set>

namespace {

// Tags of a TIFF file's first directory that say how it stores its pixels, or point into the
// file: the encoder writes its own, and a TIFF shot's would make the file unreadable. Also
// the colour profile (the encoder writes the picture's own), the XMP and IPTC blocks (written
// from their own data) and Photoshop's resources, which hold a thumbnail.
const std::set<std::string> StorageTags = {
    "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample", "Compression",
    "PhotometricInterpretation", "FillOrder", "StripOffsets", "SamplesPerPixel", "RowsPerStrip",
    "StripByteCounts", "PlanarConfiguration", "Predictor", "TileWidth", "TileLength", "TileOffsets",
    "TileByteCounts", "SubIFDs", "ExtraSamples", "SampleFormat", "JPEGTables", "JPEGInterchangeFormat",
    "JPEGInterchangeFormatLength", "YCbCrCoefficients", "YCbCrSubSampling", "YCbCrPositioning",
    "ReferenceBlackWhite", "XMLPacket", "IPTCNAA", "ImageResources", "ExifTag", "GPSTag", "InterColorProfile"};

// XMP properties of the same kind. (The XMP thumbnail, Xmp.xmp.Thumbnails, goes too.)
const std::set<std::string> StorageProperties = {
    "Xmp.tiff.BitsPerSample", "Xmp.tiff.Compression", "Xmp.tiff.PhotometricInterpretation",
    "Xmp.tiff.SamplesPerPixel", "Xmp.tiff.PlanarConfiguration", "Xmp.tiff.YCbCrSubSampling",
    "Xmp.tiff.YCbCrPositioning"};

bool ShowsTheShot(const std::string &name)
{
    return name.find("Thumbnail") != std::string::npos || name.find("Preview") != std::string::npos;
}

// Whether a tag of the shot's EXIF goes into the new picture: those of the camera, the shot
// and the place, but neither the thumbnail's directory (nor a maker note's preview) nor the
// directories of other images in the file, nor the file's storage.
bool Carried(const Exiv2::Exifdatum &datum)
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

// The shot's EXIF for the new picture, beside what the encoder wrote (in TIFF, its storage).
Exiv2::ExifData ExifFor(const Exiv2::ExifData &shot, const Exiv2::ExifData &encoder, int width, int height)
{
    Exiv2::ExifData exif;
    for (const Exiv2::Exifdatum &datum : shot)
        if (Carried(datum))
            exif.add(datum);
    for (const Exiv2::Exifdatum &datum : encoder)
        if (exif.findKey(Exiv2::ExifKey(datum.key())) == exif.end())
            exif.add(datum);
    exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(1); // the pixels are upright already
    exif["Exif.Image.Software"] = "edgedom " EDGEDOM_VERSION;
    exif["Exif.Photo.PixelXDimension"] = static_cast<std::uint32_t>(width);
    exif["Exif.Photo.PixelYDimension"] = static_cast<std::uint32_t>(height);
    return exif;
}

void SetIfPresent(Exiv2::XmpData &xmp, const char *key, const std::string &value)
{
    const auto property = xmp.findKey(Exiv2::XmpKey(key));
    if (property != xmp.end())
        property->setValue(value);
}

Exiv2::XmpData XmpFor(Exiv2::XmpData xmp, int width, int height)
{
    for (auto property = xmp.begin(); property != xmp.end();)
        if (StorageProperties.count(property->key()) != 0 || property->key().rfind("Xmp.xmp.Thumbnails", 0) == 0)
            property = xmp.erase(property);
        else
            ++property;
    SetIfPresent(xmp, "Xmp.tiff.Orientation", "1");
    SetIfPresent(xmp, "Xmp.tiff.Software", "edgedom " EDGEDOM_VERSION);
    for (const char *key : {"Xmp.tiff.ImageWidth", "Xmp.exif.PixelXDimension"})
        SetIfPresent(xmp, key, std::to_string(width));
    for (const char *key : {"Xmp.tiff.ImageLength", "Xmp.exif.PixelYDimension"})
        SetIfPresent(xmp, key, std::to_string(height));
    return xmp;
}

// The shot's IPTC without its preview.
Exiv2::IptcData IptcFor(Exiv2::IptcData iptc)
{
    for (auto dataset = iptc.begin(); dataset != iptc.end();)
        dataset = ShowsTheShot(dataset->tagName()) ? iptc.erase(dataset) : dataset + 1;
    return iptc;
}

// Whether exiv2 can write metadata into the encoded file: JPEG, PNG and TIFF hold it.
bool HoldsMetadata(const Exiv2::byte *encoded, std::size_t size)
{
    const Exiv2Access exiv2;
    const int type = Exiv2::ImageFactory::getType(encoded, static_cast<long>(size));
    return type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::png || type == Exiv2::ImageType::tiff;
}

// Writes the metadata into a copy of the encoded file, which file then holds; returns exiv2's
// reason when it refuses, else "".
std::string Embed(const Exiv2::byte *encoded, std::size_t size, const PictureMetadata::Data &shot, int width,
                  int height, std::shared_ptr<Exiv2::Image> &file)
{
    const Exiv2Access exiv2;
    try {
        file.reset(Exiv2::ImageFactory::open(encoded, static_cast<long>(size)).release());
        file->readMetadata(); // what the encoder wrote, and its colour profile, which is written back
        file->setExifData(ExifFor(shot.exif, file->exifData(), width, height));
        file->setXmpData(XmpFor(shot.xmp, width, height));
        file->setIptcData(IptcFor(shot.iptc));
        file->writeMetadata();
    } catch (const std::exception &error) {
        return error.what();
    }
    // exiv2 leaves out what it cannot fit and says so: the file would lack part of the metadata.
    return exiv2.FirstWarning();
}

} // namespace

FileBytes WithMetadata(const char *encoded, std::size_t size, const PictureMetadata &metadata, int width, int height,
                       const PictureSaveOptions &options, const std::string &fileName)
{
    const auto *bytes = reinterpret_cast<const Exiv2::byte *>(encoded);
    if (metadata.Empty() || !HoldsMetadata(bytes, size))
        return {};
    std::shared_ptr<Exiv2::Image> file;
    std::string refusal = Embed(bytes, size, *metadata.Exiv2Data(), width, height, file);
    if (refusal.empty()) {
        Exiv2::BasicIo &written = file->io(); // memory exiv2 owns, kept by file
        return {file, reinterpret_cast<const char *>(written.mmap()), static_cast<std::size_t>(written.size())};
    }
    while (!refusal.empty() && (refusal.back() == '.' || refusal.back() == ' '))
        refusal.pop_back();
    if (!options.metadataWarning)
        throw Exception("Cannot save " + fileName + ": its metadata could not be written (" + refusal + ").");
    options.metadataWarning(refusal);
    return {};
}
