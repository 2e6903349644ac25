// Writing a shot's metadata into a picture file made of it, such as the fused one: exiv2
// rewrites the file the encoder made in memory, adding the metadata adapted to the new
// picture (upright, its size, no thumbnail of the shot, this program as its software) and
// keeping what the encoder wrote (the colour profile, and in TIFF how the pixels are stored).
#pragma once

#include "picture.h"
#include "picture_metadata.h"

#include <cstddef>
#include <memory>
#include <string>

// The bytes of a picture file made in memory, kept alive by owner; no owner: no bytes.
struct FileBytes {
    std::shared_ptr<const void> owner;
    const char *data = nullptr;
    std::size_t size = 0;
};

// The encoded picture file (encoded, size bytes) of a width x height picture with the metadata
// written into it, when it is a JPEG, PNG or TIFF file; no bytes when the metadata is empty or
// the format holds none (BMP, PPM). When exiv2 cannot write the metadata (an XMP packet too
// large for a JPEG segment, say), options.metadataWarning is told why and there are no bytes,
// so the picture is written without it; without that callback an Exception naming the file
// and the reason is raised instead.
FileBytes WithMetadata(const char *encoded, std::size_t size, const PictureMetadata &metadata, int width,
                       int height, const PictureSaveOptions &options, const std::string &fileName);
