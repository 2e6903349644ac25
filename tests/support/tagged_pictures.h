// Metadata written with exiv2 into small test pictures: the tags a camera and a photographer
// give a shot, and every tag of a file read back, for the tests of what a saved picture carries.
#pragma once

#include "picture_bytes.h"

#include <exiv2/exiv2.hpp>

#include <map>
#include <string>
#include <utility>
#include <vector>

// Tags by exiv2's key ("Exif.Image.Make", "Xmp.dc.subject", ...) with their values as exiv2
// reads them from text; a key given twice gets both values (IPTC) or a list of both (XMP).
using Tags = std::vector<std::pair<std::string, std::string>>;

// A Canon shot's camera, lens, exposure, time, place, rights and keywords, turned a quarter.
inline const Tags &ShotTags()
{
    static const Tags tags = {
        {"Exif.Image.Make", "Canon"},
        {"Exif.Image.Model", "Canon EOS 5D Mark IV"},
        {"Exif.Image.Orientation", "6"},
        {"Exif.Image.Copyright", "Jane Doe"},
        {"Exif.Image.Software", "Firmware Version 1.3.2"},
        {"Exif.Image.DateTime", "2024:05:17 14:05:00"},
        {"Exif.Photo.LensModel", "EF100mm f/2.8L Macro IS USM"},
        {"Exif.Photo.ExposureTime", "1/125"},
        {"Exif.Photo.FNumber", "8/1"},
        {"Exif.Photo.FocalLength", "100/1"},
        {"Exif.Photo.ISOSpeedRatings", "400"},
        {"Exif.Photo.DateTimeOriginal", "2024:05:17 14:03:27"},
        {"Exif.Photo.SubSecTimeOriginal", "42"},
        {"Exif.Photo.PixelXDimension", "6720"},
        {"Exif.Photo.PixelYDimension", "4480"},
        {"Exif.GPSInfo.GPSLatitudeRef", "N"},
        {"Exif.GPSInfo.GPSLatitude", "48/1 51/1 2400/100"},
        {"Exif.GPSInfo.GPSLongitudeRef", "E"},
        {"Exif.GPSInfo.GPSLongitude", "2/1 21/1 300/100"},
        {"Exif.Canon.OwnerName", "Jane Doe"},
        {"Iptc.Application2.Keywords", "focus stack"},
        {"Iptc.Application2.Keywords", "macro"},
        {"Iptc.Application2.Copyright", "Jane Doe"},
        {"Xmp.dc.subject", "focus stack"},
        {"Xmp.dc.subject", "macro"},
        {"Xmp.dc.rights", "Jane Doe"},
        {"Xmp.tiff.Orientation", "6"},
    };
    return tags;
}

// Writes the tags into the picture file, and a thumbnail of 8 x 8 grey pixels when asked.
inline void WriteTags(const std::string &file, const Tags &tags, bool thumbnail = true)
{
    const auto image = Exiv2::ImageFactory::open(file);
    image->readMetadata();
    for (const auto &[key, value] : tags) {
        const std::string family = key.substr(0, key.find('.'));
        if (family == "Exif")
            image->exifData()[key] = value;
        else if (family == "Xmp")
            image->xmpData()[key] = value;
        else {
            Exiv2::Iptcdatum dataset{Exiv2::IptcKey(key)};
            dataset.setValue(value);
            image->iptcData().add(dataset);
        }
    }
    if (thumbnail) {
        const std::string jpeg = Jpeg(8, 8, JCS_RGB, std::string(8 * 8 * 3, '\x80'));
        Exiv2::ExifThumb(image->exifData()).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(jpeg.data()),
                                                             static_cast<long>(jpeg.size()));
    }
    image->writeMetadata();
}

// Every tag of the file by its key, and its value as text; the values of a key given more than
// once are joined by ", ".
inline std::map<std::string, std::string> ReadTags(const std::string &file)
{
    const auto image = Exiv2::ImageFactory::open(file);
    image->readMetadata();
    std::map<std::string, std::string> tags;
    const auto add = [&tags](const std::string &key, const std::string &value) {
        std::string &text = tags[key];
        text += (text.empty() ? "" : ", ") + value;
    };
    for (const Exiv2::Exifdatum &datum : image->exifData())
        add(datum.key(), datum.toString());
    for (const Exiv2::Xmpdatum &datum : image->xmpData())
        add(datum.key(), datum.toString());
    for (const Exiv2::Iptcdatum &datum : image->iptcData())
        add(datum.key(), datum.toString());
    return tags;
}
