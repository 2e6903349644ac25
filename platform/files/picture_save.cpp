// Saving: the bitmap is encoded in memory by Qt's writer for a lossless format and then
// written atomically, so that a failed save leaves an existing file as it was.
#include "picture.h"

#include "exception.h"

#include <QBuffer>
#include <QByteArray>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <string>

namespace {

// The lossless formats SaveToFile writes: the extension and the name of Qt's writer.
struct SaveFormat {
    const char *extension;
    const char *writer;
};
constexpr SaveFormat SaveFormats[] = {{"bmp", "bmp"}, {"png", "png"}, {"tif", "tiff"},
                                      {"tiff", "tiff"}, {"ppm", "ppm"}, {"pgm", "pgm"}};

Exception SaveError(const std::string &fileName, const std::string &reason)
{
    return Exception("Cannot save " + fileName + ": " + reason);
}

std::string LosslessChoices()
{
    std::string choices;
    for (const SaveFormat &format : SaveFormats)
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
    for (const SaveFormat &format : SaveFormats)
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

std::vector<std::string> TPicture::LosslessExtensions()
{
    std::vector<std::string> extensions;
    for (const SaveFormat &format : SaveFormats)
        extensions.emplace_back(format.extension);
    return extensions;
}
