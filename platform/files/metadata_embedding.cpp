// Embedding: exiv2 opens the encoded file in memory, reads what the encoder wrote, and writes
// it back with the shot's metadata into new memory; the encoded file itself is left as it was.
#include "metadata_embedding.h"

#include "exception.h"
#include "exiv2_access.h"

namespace {

// The shot's EXIF for the new picture, beside what the encoder wrote (in TIFF, its storage).
Exiv2::ExifData ExifFor(const Exiv2::ExifData &shot, const Exiv2::ExifData &encoder, int width, int height)
{
    Exiv2::ExifData exif = shot;
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

// The shot's XMP for the new picture.
Exiv2::XmpData XmpFor(Exiv2::XmpData xmp, int width, int height)
{
    SetIfPresent(xmp, "Xmp.tiff.Orientation", "1");
    SetIfPresent(xmp, "Xmp.tiff.Software", "edgedom " EDGEDOM_VERSION);
    for (const char *key : {"Xmp.tiff.ImageWidth", "Xmp.exif.PixelXDimension"})
        SetIfPresent(xmp, key, std::to_string(width));
    for (const char *key : {"Xmp.tiff.ImageLength", "Xmp.exif.PixelYDimension"})
        SetIfPresent(xmp, key, std::to_string(height));
    return xmp;
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
        file->setIptcData(shot.iptc);
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
    const std::string exiv2Refusal = Embed(bytes, size, *metadata.Exiv2Data(), width, height, file);
    if (exiv2Refusal.empty()) {
        Exiv2::BasicIo &written = file->io(); // memory exiv2 owns, kept by file
        return {file, reinterpret_cast<const char *>(written.mmap()), static_cast<std::size_t>(written.size())};
    }
    const std::string refusal = Exiv2Access::Reason(exiv2Refusal);
    if (!options.metadataWarning)
        throw Exception("Cannot save " + fileName + ": its metadata could not be written (" + refusal + ").");
    options.metadataWarning(refusal);
    return {};
}
