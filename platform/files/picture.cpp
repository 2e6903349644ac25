#include "picture.h"

#include "exception.h"
#include "pixel_buffer.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// The lossless formats SaveToFile writes: the extension and the name of Qt's writer.
struct TSaveFormat {
    const char *extension;
    const char *writer;
};
constexpr TSaveFormat SaveFormats[] = {{"bmp", "bmp"}, {"png", "png"}, {"tif", "tiff"},
                                       {"tiff", "tiff"}, {"ppm", "ppm"}, {"pgm", "pgm"}};

// The widest pixel Qt decodes into (four 32-bit float channels); Qt's allocation limit is
// set from it so that every picture up to MaxPixels can be decoded.
constexpr long long WidestDecodedPixelBytes = 16;

Exception LoadError(const std::string &fileName, const std::string &reason)
{
    return Exception("Cannot load " + fileName + ": " + reason);
}

Exception SaveError(const std::string &fileName, const std::string &reason)
{
    return Exception("Cannot save " + fileName + ": " + reason);
}

// ---- Loading ----

// Refuses what is no picture file before Qt's reader sees it: given a name that does not
// exist, the reader would try the name with each known extension appended and could load
// another file.
void CheckReadableFile(const QFileInfo &file, const std::string &fileName)
{
    if (!file.exists())
        throw LoadError(fileName, "the file does not exist.");
    if (file.isDir())
        throw LoadError(fileName, "it is a folder, not a picture file.");
    if (!file.isReadable())
        throw LoadError(fileName, "you are not allowed to read the file.");
    if (file.size() == 0)
        throw LoadError(fileName, "the file is empty.");
}

// Refuses a picture above MaxPixels; an invalid size (not known from the header) passes.
void CheckPixelCount(QSize size, const std::string &fileName)
{
    const long long pixels = static_cast<long long>(size.width()) * size.height();
    if (!size.isValid() || pixels <= TPicture::MaxPixels)
        return;
    throw LoadError(fileName, "the picture is " + std::to_string(size.width()) + " x " + std::to_string(size.height())
                                  + " pixels (" + std::to_string(pixels) + " pixels), more than the "
                                  + std::to_string(TPicture::MaxPixels) + " pixels this program handles. "
                                  + "Scale it down or cut it into parts first.");
}

unsigned Le16(const uchar *at) { return at[0] | at[1] << 8; }

std::uint32_t Le32(const uchar *at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// True when the JPEG data reaches its end-of-image marker. Segments are skipped by their
// length; entropy-coded data is scanned for the next marker (FF followed by anything but
// 00, FF or a restart code). What follows the first end-of-image marker is not looked at.
bool JpegReachesEnd(const uchar *data, qint64 size)
{
    qint64 at = 2; // after the start-of-image marker
    for (;;) {
        while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] != 0x00 && data[at + 1] != 0xFF
                                  && (data[at + 1] < 0xD0 || data[at + 1] > 0xD7)))
            ++at;
        if (at + 1 >= size)
            return false;
        const uchar marker = data[at + 1];
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
bool BmpHoldsAllRows(const uchar *data, qint64 size)
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
    if (!uncompressed || width * height > TPicture::MaxPixels)
        return true; // the reader judges these
    const long long rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    return pixelOffset + rowBytes * height <= size;
}

// Qt's JPEG and BMP readers complete a file that stops early (with grey or black rows) and
// report success, so for these two formats the file is checked for its end beforehand.
void CheckNotTruncated(const QString &name, const QByteArray &format, const std::string &fileName)
{
    if (format != "jpeg" && format != "bmp")
        return;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return; // the reader reports why
    const qint64 size = file.size();
    QByteArray copy;
    const uchar *data = file.map(0, size);
    if (data == nullptr) { // not mappable (a special file system): read it instead
        copy = file.readAll();
        data = reinterpret_cast<const uchar *>(copy.constData());
    }
    const bool complete = format == "jpeg" ? JpegReachesEnd(data, size) : BmpHoldsAllRows(data, size);
    if (!complete)
        throw LoadError(fileName, "the file ends before the picture does: it is truncated, perhaps by an "
                                  "interrupted copy or download.");
}

// The size of the picture the reader will decode. Qt's GIF reader announces the first
// frame's size but decodes the whole logical screen, whose size is in bytes 6 to 9.
QSize AnnouncedSize(QImageReader &reader, const QString &name)
{
    QFile file(name);
    uchar header[10];
    if (reader.format() != "gif" || !file.open(QIODevice::ReadOnly)
        || file.read(reinterpret_cast<char *>(header), 10) != 10)
        return reader.size();
    return QSize(static_cast<int>(Le16(header + 6)), static_cast<int>(Le16(header + 8)));
}

// Lets Qt's readers allocate enough for every picture up to MaxPixels. Done once, before
// the first read, since pictures may be loaded on several threads at once.
void RaiseAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(static_cast<int>(TPicture::MaxPixels * WidestDecodedPixelBytes >> 20)); });
}

// An image over memory of our own, of the size and pixel format the reader announces. Qt's
// decoders fill such an image as it is instead of allocating their own, and ours is on huge
// pages (see PixelBuffer): for a large picture the page faults of an ordinary allocation take
// longer than the decoding. A null image, when the reader cannot tell, lets Qt allocate.
QImage DecodingTarget(const QImageReader &reader, PixelBuffer &storage)
{
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    if (size.isEmpty() || format == QImage::Format_Invalid)
        return QImage();
    const qsizetype bitsPerLine = static_cast<qsizetype>(size.width()) * QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = (bitsPerLine + 31) / 32 * 4; // rows 32-bit aligned, as QImage needs
    storage = PixelBuffer(static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(size.height()));
    return QImage(storage.data(), size.width(), size.height(), bytesPerLine, format);
}

// Turns the reader's error into a reason a user can act on, keeping Qt's own words.
std::string ReaderFailure(const QImageReader &reader)
{
    const std::string qtReason = " (" + reader.errorString().toStdString() + ").";
    switch (reader.error()) {
    case QImageReader::UnsupportedFormatError:
        return "it is not a picture in a format this program reads" + qtReason;
    case QImageReader::InvalidDataError:
        return "the picture data is damaged or incomplete" + qtReason;
    default:
        return "the file could not be read" + qtReason;
    }
}

// Greyscale pictures load as pf8bit: 8- and 16-bit grey, and palettes of opaque greys only
// (how BMP and GIF files store grey pictures, and black-and-white ones).
bool IsGreyscale(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
        return true;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
        const QList<QRgb> palette = image.colorTable();
        return std::all_of(palette.begin(), palette.end(),
                           [](QRgb colour) { return qIsGray(colour) && qAlpha(colour) == 255; });
    }
    default:
        return false;
    }
}

bool IsRgb32(const QImage &image)
{
    return image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
}

// Rewrites the 32-bit pixels (RGB32 and ARGB32: one 0xAARRGGBB word each) of the picture
// decoded into storage as blue-green-red rows of the bitmap's stride, in the same memory:
// rows and pixels only move towards the start of the buffer, and each pixel is read whole
// before its three bytes are written. Alpha is dropped, not blended.
TBitmap PackRgb32InPlace(const QImage &image, PixelBuffer &storage)
{
    const int width = image.width(), height = image.height();
    const std::size_t stride = TBitmap::StrideFor(width, pf24bit);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *from = storage.data() + static_cast<std::size_t>(image.bytesPerLine()) * y;
        std::uint8_t *to = storage.data() + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x) {
            QRgb colour;
            std::memcpy(&colour, from + 4 * x, sizeof colour);
            to[3 * x] = static_cast<std::uint8_t>(qBlue(colour));
            to[3 * x + 1] = static_cast<std::uint8_t>(qGreen(colour));
            to[3 * x + 2] = static_cast<std::uint8_t>(qRed(colour));
        }
    }
    storage.Shrink(stride * static_cast<std::size_t>(height));
    TBitmap bitmap;
    bitmap.AdoptPixels(std::move(storage), width, height, pf24bit);
    return bitmap;
}

// Turns a decoded picture into a bitmap, as pf8bit grey or pf24bit blue-green-red. A
// picture decoded into storage in a common format becomes the bitmap in place, without a
// second full-size copy. Other pictures go through Qt's conversions, which round 16-bit
// channels to 8 bits and drop alpha without blending, so a transparent pixel keeps the
// colour stored in the file.
TBitmap ToBitmap(const QImage &image, PixelBuffer &storage, const std::string &fileName)
{
    const bool inStorage = storage.size() > 0 && image.constBits() == storage.data();
    if (inStorage && IsRgb32(image))
        return PackRgb32InPlace(image, storage);
    TBitmap bitmap;
    if (inStorage && image.format() == QImage::Format_Grayscale8) { // rows already have the bitmap's stride
        bitmap.AdoptPixels(std::move(storage), image.width(), image.height(), pf8bit);
        return bitmap;
    }
    const bool grey = IsGreyscale(image);
    const QImage converted = image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    if (converted.isNull())
        throw LoadError(fileName, "there is not enough memory to convert the picture.");
    bitmap.SetPixelFormat(grey ? pf8bit : pf24bit);
    bitmap.SetSize(converted.width(), converted.height());
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * TBitmap::BytesPerPixel(bitmap.PixelFormat());
    for (int y = 0; y < bitmap.Height(); ++y)
        std::memcpy(bitmap.ScanLine(y), converted.constScanLine(y), rowBytes);
    return bitmap;
}

// ---- Saving ----

std::string LosslessChoices()
{
    std::string choices;
    for (const TSaveFormat &format : SaveFormats)
        choices += std::string(choices.empty() ? "." : ", .") + format.extension;
    return choices;
}

// The Qt writer for the file name's extension (none means BMP); other extensions are refused.
const char *WriterFor(const QFileInfo &file, TPixelFormat pixelFormat, const std::string &fileName)
{
    const QString extension = file.suffix().toLower();
    if (extension.isEmpty())
        return "bmp";
    if (extension == "pgm" && pixelFormat == pf24bit)
        throw SaveError(fileName, "a .pgm file holds only grey values and this picture is in colour. "
                                  "Save it as .ppm, .png, .bmp or .tif to keep its colours.");
    for (const TSaveFormat &format : SaveFormats)
        if (extension == QLatin1String(format.extension))
            return format.writer;
    throw SaveError(fileName, "\"." + extension.toStdString() + "\" is not a lossless format this program writes. "
                              + "Use " + LosslessChoices() + " (or no extension for BMP): a lossy format "
                              + "such as JPEG or WebP changes pixel values, so a class map saved that way "
                              + "would come back with wrong classes.");
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

// Encodes the bitmap in memory. Writing straight to the file would lose disk errors: Qt's
// TIFF writer reports success when the disk takes only part of the data.
QByteArray Encode(const TBitmap &bitmap, const char *writerFormat, const std::string &fileName)
{
    // The image shares the bitmap's rows; its row stride is a multiple of 4, as QImage needs.
    const QImage image(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(),
                       static_cast<qsizetype>(bitmap.RowStride()),
                       bitmap.PixelFormat() == pf8bit ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, writerFormat);
    if (!writer.write(image))
        throw SaveError(fileName, "the picture could not be encoded as " + std::string(writerFormat) + " ("
                                      + writer.errorString().toStdString() + ").");
    return bytes;
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

} // namespace

void TPicture::LoadFromFile(const std::string &fileName)
{
    const QString name = QString::fromStdString(fileName);
    CheckReadableFile(QFileInfo(name), fileName);
    RaiseAllocationLimit();
    QImageReader reader(name);
    reader.setAutoTransform(true); // photos come upright, as their camera's orientation tag says
    const QSize announced = AnnouncedSize(reader, name);
    CheckPixelCount(announced, fileName);
    // Qt's MNG reader tells no size before decoding, and its decoder allocates whatever the
    // file announces: such a file is refused before it is decoded.
    if (!reader.size().isValid() && reader.format() == "mng")
        throw LoadError(fileName, "an MNG file does not tell the picture's size before it is decoded, so it could "
                                  "need any amount of memory. Convert it to PNG first.");
    CheckNotTruncated(name, reader.format(), fileName);
    PixelBuffer storage;
    QImage image = DecodingTarget(reader, storage);
    if (!reader.read(&image)) {
        // Qt reports a picture it found no memory for as damaged data.
        if (!announced.isEmpty() && QImage(announced, QImage::Format_ARGB32).isNull())
            throw LoadError(fileName, "there is not enough memory to decode a picture of "
                                          + std::to_string(announced.width()) + " x "
                                          + std::to_string(announced.height()) + " pixels.");
        throw LoadError(fileName, ReaderFailure(reader));
    }
    CheckPixelCount(image.size(), fileName); // for formats whose header gives no size
    bitmap_ = ToBitmap(image, storage, fileName);
}

void TPicture::SaveToFile(const std::string &fileName) const
{
    if (bitmap_.Empty())
        throw Exception("There is nothing to save: the picture is empty.");
    const QString name = QString::fromStdString(fileName);
    const QFileInfo file(name);
    const char *writerFormat = WriterFor(file, bitmap_.PixelFormat(), fileName);
    CheckReplaceable(file, fileName);
    WriteAtomically(name, Encode(bitmap_, writerFormat, fileName), fileName);
}

std::vector<std::string> TPicture::ReadablePatterns()
{
    std::vector<std::string> patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.push_back("*." + format.toLower().toStdString());
    return patterns;
}

std::vector<std::string> TPicture::LosslessExtensions()
{
    std::vector<std::string> extensions;
    for (const TSaveFormat &format : SaveFormats)
        extensions.emplace_back(format.extension);
    return extensions;
}
