// Reading: exiv2 opens the file and reads its EXIF, XMP and IPTC blocks. exiv2 reports some
// damage by throwing and some only as an error message, after which it goes on with what it
// could read (for a corrupt EXIF block, nothing of it); both mean the metadata is damaged.
#include "picture_metadata.h"

#include "exception.h"
#include "exiv2_access.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

using namespace std::string_literals;

namespace {

Exception Damaged(const std::string &fileName, std::string reason)
{
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
        reason.pop_back();
    return Exception("The metadata of " + fileName + " is damaged (" + reason + ").");
}

// The file opened for exiv2, or a null pointer for a format exiv2 reads no metadata from.
Exiv2::Image::AutoPtr OpenForMetadata(const std::string &fileName)
{
    Exiv2::BasicIo::AutoPtr file(new Exiv2::FileIo(fileName));
    if (file->open() != 0)
        throw Exception("Cannot read the metadata of " + fileName + ": the file could not be opened ("
                        + std::strerror(errno) + ").");
    if (Exiv2::ImageFactory::getType(*file) == Exiv2::ImageType::none)
        return Exiv2::Image::AutoPtr();
    return Exiv2::ImageFactory::open(file);
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
        const Exiv2::Image::AutoPtr image = OpenForMetadata(fileName);
        if (image.get() == nullptr)
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
