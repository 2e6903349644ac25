// Exiv2Access: the one way this program calls exiv2, which reads and writes pictures'
// metadata. exiv2 is set up once, used by one thread at a time (its XMP toolkit is not
// thread-safe), and the messages it would print on standard error are collected for the
// caller instead, which decides what they mean. Private to the picture files.
#pragma once

#include "picture_metadata.h"

#include <exiv2/exiv2.hpp>

#include <mutex>
#include <string>

// What PictureMetadata holds: the metadata as exiv2 read it.
struct PictureMetadata::Data {
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
};

class Exiv2Access {
public:
    // Sets exiv2 up on first use, then waits until no other thread uses it.
    Exiv2Access();
    ~Exiv2Access();
    Exiv2Access(const Exiv2Access &) = delete;
    Exiv2Access &operator=(const Exiv2Access &) = delete;

    // The first message exiv2 gave during this access at the level of a warning or above,
    // and the first at the level of an error ("" when none), as exiv2 wrote them.
    const std::string &FirstWarning() const noexcept { return firstWarning_; }
    const std::string &FirstError() const noexcept { return firstError_; }

    // exiv2's words, from a message or an exception, as a reason to show in parentheses: on
    // one line, without a closing full stop.
    static std::string Reason(std::string words);

private:
    static void Collect(int level, const char *message);

    std::unique_lock<std::mutex> lock_;
    std::string firstWarning_, firstError_;
};
