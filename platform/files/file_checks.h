// Checks of a picture file's bytes made before it is decoded: Qt's readers complete a
// truncated JPEG or BMP with grey rows and report success, and its GIF reader decodes a
// screen larger than the size it announces. Plain functions over bytes, without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The largest picture, in pixels, that is loaded: 2^28.
constexpr long long MaxPicturePixels = 1LL << 28;

// True when a file of the format Qt's reader names ("jpeg", "bmp", ...) ends before the
// picture does: JPEG data that stops before its end-of-image marker, an uncompressed BMP
// shorter than the rows its header announces. Other formats, and compressed BMPs, whose
// readers see the end themselves, give false.
bool EndsBeforeThePicture(std::string_view format, const std::uint8_t *data, std::size_t size);

struct ScreenSize {
    int width, height;
};

// The size of a GIF's logical screen (bytes 6 to 9), which Qt's reader decodes whole
// whatever size its first frame announces; nothing for data shorter than 10 bytes.
std::optional<ScreenSize> GifScreenSize(const std::uint8_t *data, std::size_t size);
