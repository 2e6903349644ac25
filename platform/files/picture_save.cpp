// Saving: the bitmap is encoded in memory, as PNG by our own writer (png_writer.h), in the
// other formats by Qt's, for a map in a lossless format, for a picture also in JPEG, and then
// written atomically, so that a failed save leaves an existing file as it was.
#include "picture.h"

#include "exception.h"
#include "png_writer.h"
#include "vector_clones.h"

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QRgba64>
#include <QSaveFile>

#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The formats SaveToFile writes: the extension, the name of its writer (Qt's, but for PNG,
// which is ours), whether it keeps every pixel value and whether it holds 16 bits a channel.
struct SaveFormat {
    const char *extension;
    const char *writer;
    bool lossless;
    bool sixteenBits;
};
constexpr SaveFormat SaveFormats[] = {{"bmp", "bmp", true, false},  {"png", "png", true, true},
                                      {"tif", "tiff", true, true},  {"tiff", "tiff", true, true},
                                      {"ppm", "ppm", true, false},  {"pgm", "pgm", true, false},
                                      {"jpg", "jpeg", false, false}, {"jpeg", "jpeg", false, false}};

Exception SaveError(const std::string &fileName, const std::string &reason)
{
    return Exception("Cannot save " + fileName + ": " + reason);
}

std::string Choices(bool lossy)
{
    std::string choices;
    for (const SaveFormat &format : SaveFormats)
        if (format.lossless || lossy)
            choices += std::string(choices.empty() ? "." : ", .") + format.extension;
    return choices;
}

const SaveFormat *FormatNamed(const QString &extension, bool lossy)
{
    for (const SaveFormat &format : SaveFormats)
        if (extension == QLatin1String(format.extension) && (format.lossless || lossy))
            return &format;
    return nullptr;
}

// The format for the file name's extension (none means BMP); other extensions, and formats
// that would lose more of the graphic than the save allows (a map: nothing), are refused.
const SaveFormat &FormatFor(const QFileInfo &file, TPixelFormat pixelFormat, bool lossy, const std::string &fileName)
{
    const QString extension = file.suffix().toLower();
    const SaveFormat *format = FormatNamed(extension.isEmpty() ? QStringLiteral("bmp") : extension, lossy);
    if (format == nullptr && lossy)
        throw SaveError(fileName, "\"." + extension.toStdString() + "\" is not a format this program writes pictures "
                                  + "in. Use " + Choices(true) + " (or no extension for BMP).");
    if (format == nullptr)
        throw SaveError(fileName, "\"." + extension.toStdString() + "\" is not a lossless format this program writes. "
                                  + "Use " + Choices(false) + " (or no extension for BMP): a lossy format "
                                  + "such as JPEG or WebP changes pixel values, so a class map saved that way "
                                  + "would come back with wrong classes.");
    if (extension == "pgm" && pixelFormat != pf8bit)
        throw SaveError(fileName, "a .pgm file holds only grey values and this picture is in colour. "
                                  "Save it as .ppm, .png, .bmp or .tif to keep its colours.");
    if (pixelFormat == pf48bit && !format->sixteenBits && !lossy)
        throw SaveError(fileName, "a ." + std::string(format->extension) + " file holds 8 bits a channel and this "
                                  + "picture has 16. Save it as .png or .tif to keep them.");
    return *format;
}

// Each RGBX64 pixel (four native-endian 16-bit channels) gets the red, green and blue of a
// pf48bit pixel, opaque.
EDGEDOM_VECTOR_CLONES void Rgbx64Row(const std::uint8_t *from, std::uint8_t *to, int width)
{
    const auto *channels = reinterpret_cast<const std::uint16_t *>(from);
    auto *colours = reinterpret_cast<QRgba64 *>(to);
    for (int x = 0; x < width; ++x)
        colours[x] = qRgba64(channels[3 * x + 2], channels[3 * x + 1], channels[3 * x], 0xFFFF);
}

// An RGBX64 copy of a pf48bit bitmap: Qt has no 48-bit format to share its rows.
QImage SixteenBitImage(const TBitmap &bitmap, const std::string &fileName)
{
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGBX64);
    if (image.isNull())
        throw SaveError(fileName, "there is not enough memory to encode the picture.");
    for (int y = 0; y < bitmap.Height(); ++y)
        Rgbx64Row(bitmap.ScanLine(y), image.scanLine(y), bitmap.Width());
    return image;
}

// An image of the bitmap's pixels: pf8bit and pf24bit share its rows, whose stride is a
// multiple of 4 as QImage needs. It is made over writable memory so that setting a colour
// space does not copy every pixel; the writers only read the rows.
QImage ImageOf(const TBitmap &bitmap, const std::string &fileName)
{
    if (bitmap.PixelFormat() == pf48bit)
        return SixteenBitImage(bitmap, fileName);
    return QImage(const_cast<std::uint8_t *>(bitmap.ScanLine(0)), bitmap.Width(), bitmap.Height(),
                  static_cast<qsizetype>(bitmap.RowStride()),
                  bitmap.PixelFormat() == pf8bit ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
}

// The PNG file's bytes, written by EncodePng straight into the array that is saved.
QByteArray EncodedPng(const TBitmap &bitmap, std::span<const std::uint8_t> profile, const std::string &fileName)
{
    QByteArray bytes;
    try {
        const std::size_t size = EncodePng(bitmap, profile, [&bytes](std::size_t maxBytes) {
            bytes.resize(static_cast<qsizetype>(maxBytes));
            return reinterpret_cast<std::uint8_t *>(bytes.data());
        });
        bytes.truncate(static_cast<qsizetype>(size));
    } catch (const std::bad_alloc &) {
        throw SaveError(fileName, "there is not enough memory to encode the picture.");
    }
    return bytes;
}

// Encodes the bitmap in memory, for a picture (not a map) with its colour profile when Qt can
// use it. Writing straight to the file would lose disk errors: Qt's TIFF writer reports
// success when the disk takes only part of the data. A grey picture gets no colour profile:
// the profiles carried are RGB ones, which grey files cannot hold.
QByteArray Encode(const TBitmap &bitmap, const SaveFormat &format, const std::vector<std::uint8_t> &profile,
                  const std::optional<PictureSaveOptions> &picture, const std::string &fileName)
{
    if (bitmap.PixelFormat() == pf48bit && !format.sixteenBits) {
        TBitmap rounded = bitmap;
        rounded.SetPixelFormat(pf24bit);
        return Encode(rounded, format, profile, picture, fileName);
    }
    QColorSpace colourSpace;
    if (picture && !profile.empty() && bitmap.PixelFormat() != pf8bit)
        colourSpace = QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char *>(profile.data()), static_cast<qsizetype>(profile.size())));
    if (std::string_view(format.writer) == "png")
        return EncodedPng(bitmap, colourSpace.isValid() ? std::span(profile) : std::span<const std::uint8_t>(),
                          fileName);
    QImage image = ImageOf(bitmap, fileName);
    if (colourSpace.isValid())
        image.setColorSpace(colourSpace);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format.writer);
    if (!format.lossless)
        writer.setQuality(picture->jpegQuality);
    if (!writer.write(image))
        throw SaveError(fileName, "the picture could not be encoded as " + std::string(format.writer) + " ("
                                      + writer.errorString().toStdString() + ").");
    return bytes;
}

// QSaveFile replaces the target by renaming a temporary file onto it, which would turn a
// device or pipe into a plain file; only regular files are replaced.
void CheckReplaceable(const QFileInfo &file, const std::string &fileName)
{
    if (file.isDir())
        throw SaveError(fileName, "it is a folder. Choose a file name inside it.");
    if (file.exists() && !file.isFile())
        throw SaveError(fileName, "it is a device or pipe, not a regular file, so it cannot be replaced.");
}

// Writes the bytes to a temporary file beside the target and renames it onto the target
// only when all of them are on disk; on failure QSaveFile removes the temporary file.
void WriteAtomically(const QString &name, const QByteArray &bytes, const std::string &fileName)
{
    QSaveFile file(name);
    // Unbuffered, so that a write the disk takes only part of shows here: commit() ignores a
    // failed flush of buffered bytes and would rename the partial file onto the target.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw SaveError(fileName, "the file could not be created (" + file.errorString().toStdString()
                                      + "). Check that the folder exists and that you may write in it.");
    if (file.write(bytes) != bytes.size()) {
        // A short write without an error code is how a full disk or a file size limit shows.
        const std::string reason = file.error() == QFileDevice::NoError ? "the disk took only part of the data"
                                                                        : file.errorString().toStdString();
        file.cancelWriting();
        throw SaveError(fileName, "writing failed (" + reason + "). Check that the disk has free space.");
    }
    if (!file.commit())
        throw SaveError(fileName, "the file could not be completed (" + file.errorString().toStdString()
                                      + "). Check that the disk has free space.");
}

// Saves the bitmap in the format its extension names: as a picture with these options, or
// without them as a map.
void Save(const TBitmap &bitmap, const std::vector<std::uint8_t> &profile, const std::string &fileName,
          const std::optional<PictureSaveOptions> &picture)
{
    if (bitmap.Empty())
        throw Exception("There is nothing to save: the picture is empty.");
    const QString name = QString::fromStdString(fileName);
    const QFileInfo file(name);
    const SaveFormat &format = FormatFor(file, bitmap.PixelFormat(), picture.has_value(), fileName);
    CheckReplaceable(file, fileName);
    WriteAtomically(name, Encode(bitmap, format, profile, picture, fileName), fileName);
}

std::vector<std::string> Extensions(bool lossy)
{
    std::vector<std::string> extensions;
    for (const SaveFormat &format : SaveFormats)
        if (format.lossless || lossy)
            extensions.emplace_back(format.extension);
    return extensions;
}

} // namespace

void TPicture::SaveToFile(const std::string &fileName) const { Save(bitmap_, colourProfile_, fileName, {}); }

void TPicture::SaveToFile(const std::string &fileName, const PictureSaveOptions &options) const
{
    if (options.jpegQuality < 1 || options.jpegQuality > 100)
        throw SaveError(fileName, "the JPEG quality must be from 1 to 100, not " + std::to_string(options.jpegQuality)
                                      + ".");
    Save(bitmap_, colourProfile_, fileName, options);
}

std::vector<std::string> TPicture::LosslessExtensions() { return Extensions(false); }

std::vector<std::string> TPicture::PictureExtensions() { return Extensions(true); }
