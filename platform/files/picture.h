// TPicture: the graphic an image pane holds, and the picture files it is read from and
// written to. File access goes through Qt's image reader and writer; this header shows
// no Qt so that the command-line tool and the tests see only TBitmap.
#pragma once

#include "bitmap.h"
#include "file_checks.h"
#include "picture_metadata.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// How many bits a channel LoadFromFile keeps.
enum class PictureDepth {
    EightBits,       // every picture becomes pf8bit or pf24bit; 16-bit channels are rounded to 8 bits
    KeepSixteenBits, // a file of more than 8 bits a channel (16-bit PNG or TIFF, grey too) becomes pf48bit
};

// What a picture file's header tells, read by TPicture::Probe without decoding the pixels.
struct PictureHeader {
    int width = 0, height = 0; // of the bitmap LoadFromFile makes: upright as the camera's tag says
    bool sixteenBits = false;  // more than 8 bits a channel: KeepSixteenBits loads it as pf48bit
    bool grey = false;         // stored as 8- or 16-bit grey levels (not a palette of greys; see Probe)

    bool operator==(const PictureHeader &) const = default;
};

// How SaveToFile writes a picture, as opposed to a map.
struct PictureSaveOptions {
    int jpegQuality = 95; // 1 to 100: how much detail a .jpg or .jpeg file keeps
    // Told why, when the picture's metadata cannot be written into the file (exiv2's reason,
    // naming no file); the picture is then written without it. Unset, that failure raises an
    // Exception instead and nothing is written.
    std::function<void(const std::string &reason)> metadataWarning = {};
};

class TPicture {
public:
    // The held graphic; empty (0 by 0) when the picture holds nothing.
    TBitmap &Bitmap() noexcept { return bitmap_; }
    const TBitmap &Bitmap() const noexcept { return bitmap_; }

    // Takes an independent copy of source, without a colour profile or metadata.
    void Assign(const TBitmap &source)
    {
        bitmap_.Assign(source);
        colourProfile_.clear();
        metadata_ = PictureMetadata();
    }

    // The ICC colour profile of the picture loaded last, when its file has one Qt can use
    // (an RGB profile); empty otherwise. It belongs to the picture, not to what is made of
    // it: LoadFromFile sets it, Assign clears it, and only the picture save writes it, so a
    // map computed in the bitmap and saved as a map never carries it.
    const std::vector<std::uint8_t> &ColourProfile() const noexcept { return colourProfile_; }
    void SetColourProfile(std::vector<std::uint8_t> profile) { colourProfile_ = std::move(profile); }

    // The shot's metadata (EXIF, XMP, IPTC) the picture carries; empty unless set. Like the
    // colour profile it belongs to the picture: Assign and LoadFromFile clear it (LoadFromFile
    // does not read it: see PictureMetadata::ReadFrom), and only the picture save writes it.
    const PictureMetadata &Metadata() const noexcept { return metadata_; }
    void SetMetadata(PictureMetadata metadata) { metadata_ = std::move(metadata); }

    // Replaces the graphic with the picture in the file, upright as its camera's orientation
    // tag says, and its colour profile, and clears the metadata. Greyscale files (8- or 16-bit
    // grey, or a palette of opaque greys only) become pf8bit, all others pf24bit (alpha
    // ignored, 16-bit channels rounded to 8); with KeepSixteenBits a file of more than 8 bits
    // a channel, colour or grey, becomes pf48bit instead. A file that cannot be read raises an
    // Exception naming the file and the reason and leaves the picture as it was. Pictures above MaxPixels are
    // refused from the header.
    void LoadFromFile(const std::string &fileName, PictureDepth depth = PictureDepth::EightBits);

    // Reads the file's header only and refuses it as LoadFromFile would before decoding
    // (missing, a folder, empty, unreadable, no known format, truncated, above MaxPixels,
    // MNG), with the same Exception; faults in the pixel data show only when loading. The
    // size is that of the bitmap LoadFromFile makes. A file of palette entries says grey
    // false even when they are all grey, since the palette is read with the pixels, though
    // LoadFromFile makes pf8bit of it.
    static PictureHeader Probe(const std::string &fileName);

    // Writes a map: losslessly in the format the extension names (.bmp or none, .png,
    // .tif/.tiff, .ppm/.pgm), without a colour profile, atomically: a failed save leaves no
    // partial file behind and an existing file untouched. Lossy or unknown extensions and an
    // empty picture raise an Exception. A colour graphic is refused as .pgm (grey only, it
    // would lose the colours), a pf48bit one in a format of 8 bits a channel (.bmp, .ppm); a
    // pf8bit graphic saved as .ppm keeps its values but reads back as pf24bit grey.
    void SaveToFile(const std::string &fileName) const;

    // Writes a picture, such as the fused one: as the map save, and also as .jpg/.jpeg at
    // options.jpegQuality (refused outside 1 to 100), with the colour profile in the formats
    // that hold one (PNG, TIFF, JPEG) unless the graphic is pf8bit. A pf48bit graphic keeps
    // its 16 bits a channel in .png and .tif/.tiff and is rounded as by SetPixelFormat(pf24bit)
    // for the others. The metadata, when there is some, goes into .jpg/.jpeg, .png and
    // .tif/.tiff files (BMP and PPM hold none), adapted to the picture: orientation normal,
    // the picture's size, no thumbnail, edgedom as the software; see options.metadataWarning.
    void SaveToFile(const std::string &fileName, const PictureSaveOptions &options) const;

    // File-name patterns of every format LoadFromFile reads ("*.bmp", "*.png", ...), for the
    // filter of an open dialog.
    static std::vector<std::string> ReadablePatterns();

    // Extensions the map save writes, without the dot, BMP first since a name without an
    // extension is saved as BMP; for the filter of a save dialog.
    static std::vector<std::string> LosslessExtensions();

    // Extensions the picture save writes: the lossless ones, then jpg and jpeg.
    static std::vector<std::string> PictureExtensions();

    // The largest picture, in pixels, that LoadFromFile accepts: 2^28.
    static constexpr long long MaxPixels = MaxPicturePixels;

private:
    TBitmap bitmap_;
    std::vector<std::uint8_t> colourProfile_;
    PictureMetadata metadata_;
};
