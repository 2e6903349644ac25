// PictureMetadata: what a photo's file says about the shot besides its pixels (its EXIF, XMP
// and IPTC metadata: camera, lens, exposure, date, place, copyright, keywords), read through
// exiv2 so that a picture made of the shot, such as the fused one, can carry it on.
#pragma once

#include <memory>
#include <optional>
#include <string>

class PictureMetadata {
public:
    // The shot's metadata in the picture file, without its thumbnail and, in a TIFF file, the
    // tags of its storage: empty for a file that has no more, or whose format holds none (BMP,
    // PPM, ...). A file that cannot be opened, or whose metadata cannot be read (a truncated or
    // corrupt block), raises an Exception naming the file and the reason.
    static PictureMetadata ReadFrom(const std::string &fileName);

    bool Empty() const noexcept { return data_ == nullptr; }

    // When the shot was taken, in seconds since 1970-01-01 00:00:00 with the time taken as
    // UTC: the EXIF DateTimeOriginal with its SubSecTimeOriginal, else DateTime with its
    // SubSecTime; none when neither holds a valid date and time.
    std::optional<double> CaptureTime() const;

    // exiv2's EXIF, XMP and IPTC data as read and kept; shared by every copy, never changed.
    struct Data;
    const Data *Exiv2Data() const noexcept { return data_.get(); }

private:
    std::shared_ptr<const Data> data_;
};
