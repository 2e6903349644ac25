// TPicture: the graphic an image pane holds, and the picture files it is read from and
// written to. File access goes through Qt's image reader and writer; this header shows
// no Qt so that the command-line tool and the tests see only TBitmap.
#pragma once

#include "bitmap.h"

#include <string>

class TPicture {
public:
    // The held graphic; empty (0 by 0) when the picture holds nothing.
    TBitmap &Bitmap() noexcept { return bitmap_; }
    const TBitmap &Bitmap() const noexcept { return bitmap_; }

    // Takes an independent copy of source.
    void Assign(const TBitmap &source) { bitmap_.Assign(source); }

    // Replaces the graphic with the picture in the file. 8-bit greyscale files become
    // pf8bit with their bytes, all others pf24bit (alpha ignored, 16-bit channels reduced
    // to 8). A file that cannot be read raises an Exception naming the file and the reason
    // and leaves the picture as it was. Pictures above MaxPixels are refused from the header.
    void LoadFromFile(const std::string &fileName);

    // Writes the graphic losslessly in the format the extension names (.bmp or none, .png,
    // .tif/.tiff, .ppm/.pgm), atomically: a failed save leaves no partial file behind and an
    // existing file untouched. Lossy or unknown extensions and an empty picture raise an
    // Exception.
    void SaveToFile(const std::string &fileName) const;

    // The largest picture, in pixels, that LoadFromFile accepts: 2^28.
    static constexpr long long MaxPixels = 1LL << 28;

private:
    TBitmap bitmap_;
};
