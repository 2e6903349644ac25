// TPicture: the graphic an image pane holds, and the picture files it is read from and
// written to. File access goes through Qt's image reader and writer; this header shows
// no Qt so that the command-line tool and the tests see only TBitmap.
#pragma once

#include "bitmap.h"
#include "file_checks.h"

#include <string>
#include <vector>

class TPicture {
public:
    // The held graphic; empty (0 by 0) when the picture holds nothing.
    TBitmap &Bitmap() noexcept { return bitmap_; }
    const TBitmap &Bitmap() const noexcept { return bitmap_; }

    // Takes an independent copy of source.
    void Assign(const TBitmap &source) { bitmap_.Assign(source); }

    // Replaces the graphic with the picture in the file. Greyscale files (8- or 16-bit grey,
    // or a palette of opaque greys only) become pf8bit, all others pf24bit (alpha ignored,
    // 16-bit channels reduced to 8). A file that cannot be read raises an Exception naming
    // the file and the reason and leaves the picture as it was. Pictures above MaxPixels are
    // refused from the header.
    void LoadFromFile(const std::string &fileName);

    // Writes the graphic losslessly in the format the extension names (.bmp or none, .png,
    // .tif/.tiff, .ppm/.pgm), atomically: a failed save leaves no partial file behind and an
    // existing file untouched. Lossy or unknown extensions and an empty picture raise an
    // Exception. A pf24bit graphic is refused as .pgm (grey only, it would lose the colours);
    // a pf8bit graphic saved as .ppm keeps its values but reads back as pf24bit grey.
    void SaveToFile(const std::string &fileName) const;

    // File-name patterns of every format LoadFromFile reads ("*.bmp", "*.png", ...), for the
    // filter of an open dialog.
    static std::vector<std::string> ReadablePatterns();

    // Extensions SaveToFile writes, without the dot, BMP first since a name without an
    // extension is saved as BMP; for the filter of a save dialog.
    static std::vector<std::string> LosslessExtensions();

    // The largest picture, in pixels, that LoadFromFile accepts: 2^28.
    static constexpr long long MaxPixels = MaxPicturePixels;

private:
    TBitmap bitmap_;
};
