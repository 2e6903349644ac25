// Loading: the file is checked (exists, not empty, not truncated, not too large) and then
// decoded by Qt's reader, where possible into memory that becomes the bitmap in place.
#include "picture.h"

#include "exception.h"
#include "file_checks.h"
#include "pixel_buffer.h"
#include "vector_clones.h"

#include <QByteArray>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageIOHandler>
#include <QImageReader>
#include <QRgba64>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The widest pixel Qt decodes into (four 32-bit float channels); Qt's allocation limit is
// set from it so that every picture up to MaxPixels can be decoded.
constexpr long long WidestDecodedPixelBytes = 16;

Exception LoadError(const std::string &fileName, const std::string &reason)
{
    return Exception("Cannot load " + fileName + ": " + reason);
}

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
    throw LoadError(fileName, "the picture is " + SizeText(size.width(), size.height()) + " (" + std::to_string(pixels) + " pixels), more than the "
                                  + std::to_string(TPicture::MaxPixels) + " pixels this program handles. "
                                  + "Scale it down or cut it into parts first.");
}

// Qt's JPEG and BMP readers complete a file that stops early and report success, so the
// file's bytes are checked for its end beforehand.
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
    if (EndsBeforeThePicture(format.toStdString(), data, static_cast<std::size_t>(size)))
        throw LoadError(fileName, "the file ends before the picture does: it is truncated, perhaps by an "
                                  "interrupted copy or download.");
}

// The size of the picture the reader will decode: for a GIF its whole screen; for a BMP
// stored top down, whose height Qt's reader tells as negative, that height made positive.
QSize AnnouncedSize(QImageReader &reader, const QString &name)
{
    const QSize size = reader.size();
    if (reader.format() == "bmp" && size.height() < 0 && size.height() > std::numeric_limits<int>::min())
        return QSize(size.width(), -size.height());
    QFile file(name);
    std::uint8_t header[10];
    if (reader.format() != "gif" || !file.open(QIODevice::ReadOnly)
        || file.read(reinterpret_cast<char *>(header), 10) != 10)
        return size;
    const ScreenSize screen = *GifScreenSize(header, sizeof header);
    return QSize(screen.width, screen.height);
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
// longer than the decoding. For a pf48bit result the memory has room for it too, so that 16-bit
// grey can be spread into it in place. A null image, when the reader cannot tell, lets Qt
// allocate.
QImage DecodingTarget(const QImageReader &reader, PixelBuffer &storage, bool sixteenBits)
{
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    if (size.isEmpty() || format == QImage::Format_Invalid)
        return QImage();
    const qsizetype bitsPerLine = static_cast<qsizetype>(size.width()) * QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = (bitsPerLine + 31) / 32 * 4; // rows 32-bit aligned, as QImage needs
    const std::size_t resultStride = sixteenBits ? TBitmap::StrideFor(size.width(), pf48bit) : 0;
    storage = PixelBuffer(std::max(static_cast<std::size_t>(bytesPerLine), resultStride)
                          * static_cast<std::size_t>(size.height()));
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

// A bitmap over the rows rewritten at the start of storage; the rest of storage is given back.
TBitmap AdoptRows(PixelBuffer &storage, int width, int height, TPixelFormat format)
{
    storage.Shrink(TBitmap::StrideFor(width, format) * static_cast<std::size_t>(height));
    TBitmap bitmap;
    bitmap.AdoptPixels(std::move(storage), width, height, format);
    return bitmap;
}

// Each pixel gets the blue, green and red bytes of its 0xAARRGGBB word. to may start where
// from does: pixel x is read whole before its bytes are written, at or before its word.
EDGEDOM_VECTOR_CLONES void PackRgb32Row(const std::uint8_t *from, std::uint8_t *to, int width)
{
    for (int x = 0; x < width; ++x) {
        QRgb colour;
        std::memcpy(&colour, from + 4 * x, sizeof colour);
        to[3 * x] = static_cast<std::uint8_t>(qBlue(colour));
        to[3 * x + 1] = static_cast<std::uint8_t>(qGreen(colour));
        to[3 * x + 2] = static_cast<std::uint8_t>(qRed(colour));
    }
}

// Rewrites the 32-bit pixels (RGB32 and ARGB32: one 0xAARRGGBB word each) of the picture
// decoded into storage as blue-green-red rows of the bitmap's stride, in the same memory:
// rows and pixels only move towards the start of the buffer, and each pixel is read whole
// before its three bytes are written. Alpha is dropped, not blended.
TBitmap PackRgb32InPlace(const QImage &image, PixelBuffer &storage)
{
    const int width = image.width(), height = image.height();
    const std::size_t stride = TBitmap::StrideFor(width, pf24bit);
    for (int y = 0; y < height; ++y)
        PackRgb32Row(storage.data() + static_cast<std::size_t>(image.bytesPerLine()) * y,
                     storage.data() + stride * static_cast<std::size_t>(y), width);
    return AdoptRows(storage, width, height, pf24bit);
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

// Gives a palette picture an entry for every index its pixels can hold, black past the
// file's palette. Qt's decoders keep indices past the palette as the file has them, and
// its conversion to grey then reads whatever memory follows the palette.
void FillPalette(QImage &image)
{
    const int indices = image.format() == QImage::Format_Indexed8 ? 256 : image.depth() == 1 ? 2 : 0;
    if (image.colorCount() >= indices)
        return;
    QList<QRgb> palette = image.colorTable();
    palette.resize(indices, qRgb(0, 0, 0));
    image.setColorTable(palette);
}

// True for the formats Qt decodes pictures of more than 8 bits a channel into: 16-bit grey,
// 64-bit RGB(A), and the 10-bit and floating-point ones.
bool HasSixteenBitChannels(QImage::Format format)
{
    return format != QImage::Format_Invalid && QImage::toPixelFormat(format).redSize() > 8;
}

// Each pf48bit pixel gets the red, green and blue of a 64-bit RGBX64 or RGBA64 pixel (four
// native-endian 16-bit channels) as blue, green, red; alpha is dropped, not blended. Each
// pixel is read whole before its channels are written, so to may start where from does.
EDGEDOM_VECTOR_CLONES void PackRgba64Row(const std::uint8_t *from, std::uint8_t *to, int width)
{
    auto *channels = reinterpret_cast<std::uint16_t *>(to);
    for (int x = 0; x < width; ++x) {
        QRgba64 colour;
        std::memcpy(&colour, from + 8 * x, sizeof colour);
        channels[3 * x] = colour.blue();
        channels[3 * x + 1] = colour.green();
        channels[3 * x + 2] = colour.red();
    }
}

// Rewrites the 64-bit pixels of the picture decoded into storage as pf48bit rows, in the same
// memory: rows and pixels only move towards the start of the buffer.
TBitmap PackRgba64InPlace(const QImage &image, PixelBuffer &storage)
{
    const int width = image.width(), height = image.height();
    const std::size_t stride = TBitmap::StrideFor(width, pf48bit);
    for (int y = 0; y < height; ++y)
        PackRgba64Row(storage.data() + static_cast<std::size_t>(image.bytesPerLine()) * y,
                      storage.data() + stride * static_cast<std::size_t>(y), width);
    return AdoptRows(storage, width, height, pf48bit);
}

// Each pixel's three 16-bit channels get its 16-bit grey value. Works back from the last
// pixel, so that to may start where from does: each pixel's channels then lie at or after
// every grey pixel not yet read.
EDGEDOM_VECTOR_CLONES void SpreadGrey16Row(const std::uint8_t *from, std::uint8_t *to, int width)
{
    const auto *greys = reinterpret_cast<const std::uint16_t *>(from);
    auto *channels = reinterpret_cast<std::uint16_t *>(to);
    for (int x = width - 1; x >= 0; --x) {
        const std::uint16_t grey = greys[x];
        channels[3 * x] = grey;
        channels[3 * x + 1] = grey;
        channels[3 * x + 2] = grey;
    }
}

// Rewrites the 16-bit grey pixels of the picture decoded into storage, which DecodingTarget
// made large enough, as pf48bit rows in the same memory, from the last row back: rows only
// move towards the end of the buffer.
TBitmap SpreadGrey16InPlace(const QImage &image, PixelBuffer &storage)
{
    const int width = image.width(), height = image.height();
    const std::size_t stride = TBitmap::StrideFor(width, pf48bit);
    for (int y = height - 1; y >= 0; --y)
        SpreadGrey16Row(storage.data() + static_cast<std::size_t>(image.bytesPerLine()) * y,
                        storage.data() + stride * static_cast<std::size_t>(y), width);
    return AdoptRows(storage, width, height, pf48bit);
}

// Turns a decoded picture into a pf48bit bitmap, in place when it was decoded into storage
// as 64-bit colour or 16-bit grey. Other pictures (turned upright, or decoded otherwise than
// the reader announced) go through Qt's conversion to RGBX64, which widens 8-bit channels
// exactly (v * 257).
TBitmap ToSixteenBitBitmap(const QImage &image, PixelBuffer &storage, const std::string &fileName)
{
    const bool inStorage = storage.size() > 0 && image.constBits() == storage.data();
    if (inStorage && (image.format() == QImage::Format_RGBX64 || image.format() == QImage::Format_RGBA64))
        return PackRgba64InPlace(image, storage);
    if (inStorage && image.format() == QImage::Format_Grayscale16)
        return SpreadGrey16InPlace(image, storage);
    const QImage converted = image.convertToFormat(QImage::Format_RGBX64);
    if (converted.isNull())
        throw LoadError(fileName, "there is not enough memory to convert the picture.");
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf48bit);
    bitmap.SetSize(converted.width(), converted.height());
    for (int y = 0; y < bitmap.Height(); ++y)
        PackRgba64Row(converted.constScanLine(y), bitmap.ScanLine(y), bitmap.Width());
    return bitmap;
}

// The ICC profile of a decoded picture whose file has a colour space Qt can use; else empty.
std::vector<std::uint8_t> ColourProfileOf(const QImage &image)
{
    if (!image.colorSpace().isValid())
        return {};
    const QByteArray profile = image.colorSpace().iccProfile();
    return std::vector<std::uint8_t>(profile.begin(), profile.end());
}

// Every check LoadFromFile makes before decoding, with the reader set to turn photos
// upright; returns the size the reader will decode (invalid when the header does not say).
QSize CheckBeforeDecoding(QImageReader &reader, const std::string &fileName)
{
    const QString name = reader.fileName();
    CheckReadableFile(QFileInfo(name), fileName);
    reader.setAutoTransform(true); // photos come upright, as their camera's orientation tag says
    const QSize announced = AnnouncedSize(reader, name);
    CheckPixelCount(announced, fileName);
    // Qt's MNG reader tells no size before decoding, and its decoder allocates whatever the
    // file announces: such a file is refused before it is decoded.
    if (!reader.size().isValid() && reader.format() == "mng")
        throw LoadError(fileName, "an MNG file does not tell the picture's size before it is decoded, so it could "
                                  "need any amount of memory. Convert it to PNG first.");
    CheckNotTruncated(name, reader.format(), fileName);
    return announced;
}

} // namespace

void TPicture::LoadFromFile(const std::string &fileName, PictureDepth depth)
{
    RaiseAllocationLimit();
    QImageReader reader(QString::fromStdString(fileName));
    const QSize announced = CheckBeforeDecoding(reader, fileName);
    // Decided from the header, as Probe does, so that both always agree.
    const bool sixteenBits = depth == PictureDepth::KeepSixteenBits && HasSixteenBitChannels(reader.imageFormat());
    PixelBuffer storage;
    QImage image = DecodingTarget(reader, storage, sixteenBits);
    if (!reader.read(&image)) {
        // Qt reports a picture it found no memory for as damaged data.
        if (!announced.isEmpty() && QImage(announced, QImage::Format_ARGB32).isNull())
            throw LoadError(fileName, "there is not enough memory to decode a picture of "
                                          + SizeText(announced.width(), announced.height()) + ".");
        throw LoadError(fileName, ReaderFailure(reader));
    }
    CheckPixelCount(image.size(), fileName); // for formats whose header gives no size
    FillPalette(image);
    std::vector<std::uint8_t> profile = ColourProfileOf(image);
    bitmap_ = sixteenBits ? ToSixteenBitBitmap(image, storage, fileName) : ToBitmap(image, storage, fileName);
    colourProfile_ = std::move(profile);
}

PictureHeader TPicture::Probe(const std::string &fileName)
{
    QImageReader reader(QString::fromStdString(fileName));
    QSize size = CheckBeforeDecoding(reader, fileName);
    // Qt's readers leave no error behind when the header fails, only an invalid size.
    if (!size.isValid() && reader.error() != QImageReader::UnknownError)
        throw LoadError(fileName, ReaderFailure(reader));
    if (size.isEmpty())
        throw LoadError(fileName, "the picture data is damaged or incomplete (its header gives no size, or one "
                                  "without pixels).");
    // The reader tells the size as stored; LoadFromFile turns the picture upright.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        size.transpose();
    const QImage::Format format = reader.imageFormat();
    return {size.width(), size.height(), HasSixteenBitChannels(format),
            format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16};
}

std::vector<std::string> TPicture::ReadablePatterns()
{
    std::vector<std::string> patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.push_back("*." + format.toLower().toStdString());
    return patterns;
}
