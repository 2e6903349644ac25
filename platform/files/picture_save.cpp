// Saving: the bitmap is encoded in memory, as PNG by our own writer (png_writer.h), in the
// other formats by Qt's, for a map in a lossless format, for a picture also in JPEG, given the
// metadata of the shot it was made of (metadata_embedding.h), and then saved atomically
// (atomic_save.h), so that a failed save leaves an existing file as it was.
#include "picture.h"

#include "atomic_save.h"
#include "exception.h"
#include "metadata_embedding.h"
#include "png_writer.h"
#include "vector_clones.h"

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QRgba64>

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

// The resolution every file is stored with: 72 dots per inch, the usual one for photos.
constexpr int StoredDotsPerMeter = 2835;

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
QByteArray EncodedPng(const TBitmap &bitmap, std::span<const std::uint8_t> profile, const PngEncoding &encoding,
                      const std::string &fileName)
{
    QByteArray bytes;
    try {
        const std::size_t size = EncodePng(
            bitmap, profile,
            [&bytes](std::size_t maxBytes) {
                bytes.resize(static_cast<qsizetype>(maxBytes));
                return reinterpret_cast<std::uint8_t *>(bytes.data());
            },
            encoding);
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
        // Maps, of few distinct values, lose little by the cheaper Up filter: a quarter of the time
        // for 1 to 5 % more bytes (bench/png_write_bench.cpp); photos keep Paeth.
        return EncodedPng(bitmap, colourSpace.isValid() ? std::span(profile) : std::span<const std::uint8_t>(),
                          picture ? PngEncoding{} : PngEncoding{.filter = PngFilter::Up}, fileName);
    QImage image = ImageOf(bitmap, fileName);
    // Qt would write the resolution of the screen, if there is one: the same pixels would make
    // other bytes in a window than on the command line.
    image.setDotsPerMeterX(StoredDotsPerMeter);
    image.setDotsPerMeterY(StoredDotsPerMeter);
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

// Saves the bitmap in the format its extension names: as a picture with these options and
// the metadata, or without them as a map.
void Save(const TBitmap &bitmap, const std::vector<std::uint8_t> &profile, const PictureMetadata &metadata,
          const std::string &fileName, const std::optional<PictureSaveOptions> &picture)
{
    if (bitmap.Empty())
        throw Exception("There is nothing to save: the picture is empty.");
    const QString name = QString::fromStdString(fileName);
    const QFileInfo file(name);
    const SaveFormat &format = FormatFor(file, bitmap.PixelFormat(), picture.has_value(), fileName);
    QByteArray bytes = Encode(bitmap, format, profile, picture, fileName);
    const FileBytes withMetadata = WithMetadata(bytes.constData(), static_cast<std::size_t>(bytes.size()), metadata,
                                                bitmap.Width(), bitmap.Height(), picture.value_or(PictureSaveOptions{}),
                                                fileName);
    if (withMetadata.owner)
        bytes = QByteArray::fromRawData(withMetadata.data, static_cast<qsizetype>(withMetadata.size));
    SaveAtomically(fileName, bytes.constData(), static_cast<std::size_t>(bytes.size()));
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

void TPicture::SaveToFile(const std::string &fileName) const { Save(bitmap_, colourProfile_, {}, fileName, {}); }

void TPicture::SaveToFile(const std::string &fileName, const PictureSaveOptions &options) const
{
    if (options.jpegQuality < 1 || options.jpegQuality > 100)
        throw SaveError(fileName, "the JPEG quality must be from 1 to 100, not " + std::to_string(options.jpegQuality)
                                      + ".");
    Save(bitmap_, colourProfile_, metadata_, fileName, options);
}

std::vector<std::string> TPicture::LosslessExtensions() { return Extensions(false); }

std::vector<std::string> TPicture::PictureExtensions() { return Extensions(true); }
