#include "file_checks.h"
#include "picture_bytes.h"

#include <gtest/gtest.h>

namespace {

bool EndsEarly(const std::string &format, const std::string &bytes)
{
    return EndsBeforeThePicture(format, reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

} // namespace

TEST(FileChecks, FilesThatEndBeforeThePicture)
{
    std::string pixels;
    for (int i = 0; i < 32 * 16 * 3; ++i)
        pixels += static_cast<char>(i * 7 % 251);
    const std::string jpeg = Jpeg(32, 16, JCS_RGB, pixels);
    const std::string bmp = Bmp24Header(3, 2) + std::string(2 * 12, '\x40'); // rows of 9 bytes padded to 12
    std::string rle = Bmp24Header(3, 2);
    rle[30] = 1; // RLE-compressed: no fixed size
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"jpeg", jpeg, false},
        {"jpeg", jpeg + "anything after the end", false},
        {"jpeg", jpeg.substr(0, jpeg.size() - 2), true}, // no end-of-image marker
        {"jpeg", jpeg.substr(0, jpeg.size() / 2), true},
        {"jpeg", jpeg.substr(0, 2), true},
        {"bmp", bmp, false},
        {"bmp", bmp.substr(0, bmp.size() - 1), true},
        {"bmp", rle, false},
        {"bmp", "BM", false}, // too short for a header: the reader refuses it
        {"png", "\x89PNG", false},
    };
    for (const auto &[format, bytes, endsEarly] : cases)
        EXPECT_EQ(EndsEarly(format, bytes), endsEarly) << format << ", " << bytes.size() << " bytes";
}
