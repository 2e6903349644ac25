#include "file_checks.h"

namespace {

unsigned Le16(const std::uint8_t *at) { return at[0] | at[1] << 8; }

std::uint32_t Le32(const std::uint8_t *at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// True when the JPEG data reaches its end-of-image marker. Segments are skipped by their
// length; entropy-coded data is scanned for the next marker (FF followed by anything but
// 00, FF or a restart code). What follows the first end-of-image marker is not looked at.
bool JpegReachesEnd(const std::uint8_t *data, std::size_t size)
{
    std::size_t at = 2; // after the start-of-image marker
    for (;;) {
        while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] != 0x00 && data[at + 1] != 0xFF
                                  && (data[at + 1] < 0xD0 || data[at + 1] > 0xD7)))
            ++at;
        if (at + 1 >= size)
            return false;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xD9)
            return true;
        at += 2;
        const bool standalone = marker == 0x01 || marker == 0xD8;
        if (!standalone) {
            if (at + 1 >= size)
                return false;
            at += (data[at] << 8) | data[at + 1];
        }
    }
}

// True when an uncompressed BMP file holds all the rows its header announces. RLE and
// embedded JPEG or PNG data have no fixed size, so they pass.
bool BmpHoldsAllRows(const std::uint8_t *data, std::size_t size)
{
    if (size < 34)
        return true; // too short for a header: Qt's reader refuses it
    const std::uint32_t pixelOffset = Le32(data + 10);
    long long width, height;
    unsigned bitsPerPixel, compression = 0;
    if (Le32(data + 14) == 12) { // the old OS/2 header
        width = Le16(data + 18);
        height = Le16(data + 20);
        bitsPerPixel = Le16(data + 24);
    } else {
        width = static_cast<std::int32_t>(Le32(data + 18));
        height = static_cast<std::int32_t>(Le32(data + 22));
        bitsPerPixel = Le16(data + 28);
        compression = Le32(data + 30);
    }
    width = width < 0 ? -width : width;
    height = height < 0 ? -height : height; // a negative height stores the rows top down
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6; // RGB, bit fields
    if (!uncompressed || width * height > MaxPicturePixels)
        return true; // the reader judges these
    const long long rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    return pixelOffset + rowBytes * height <= static_cast<long long>(size);
}

} // namespace

bool EndsBeforeThePicture(std::string_view format, const std::uint8_t *data, std::size_t size)
{
    if (format == "jpeg")
        return !JpegReachesEnd(data, size);
    if (format == "bmp")
        return !BmpHoldsAllRows(data, size);
    return false;
}

std::optional<ScreenSize> GifScreenSize(const std::uint8_t *data, std::size_t size)
{
    if (size < 10)
        return std::nullopt;
    return ScreenSize{static_cast<int>(Le16(data + 6)), static_cast<int>(Le16(data + 8))};
}
