#include "exception.h"
#include "test_bitmaps.h"
#include "picture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A bitmap of pseudo-random bytes: a swapped channel, a shifted row or lost row padding
// shows, and no format compresses it much.
TBitmap Pattern(TPixelFormat format, int width, int height)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * TBitmap::BytesPerPixel(format); ++i)
            bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return bitmap;
}

// The message of the Exception that action raises; fails the test when it raises none.
template <typename Action> std::string FailureOf(Action action)
{
    try {
        action();
    } catch (const Exception &error) {
        return error.Message();
    }
    ADD_FAILURE() << "no Exception was raised";
    return {};
}

QByteArray BigEndian32(std::uint32_t value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

// A PNG chunk: length, type, data and the CRC-32 of type and data, which libpng checks.
QByteArray PngChunk(const QByteArray &type, const QByteArray &data)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : type + data) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return BigEndian32(static_cast<std::uint32_t>(data.size())) + type + data + BigEndian32(~crc);
}

// Lets this process write at most `bytes` into any file while it lives, as a full disk
// would; a write past it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        const rlimit limit{bytes, saved_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_), std::signal(SIGXFSZ, SIG_DFL); }

private:
    rlimit saved_{};
};

class PictureFiles : public testing::Test {
protected:
    std::string Path(const QString &name) const { return folder_.filePath(name).toStdString(); }
    QString QPath(const QString &name) const { return folder_.filePath(name); }

    void Write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(QPath(name));
        ASSERT_EQ(file.open(QIODevice::WriteOnly) ? file.write(bytes) : -1, bytes.size());
    }

    QByteArray Read(const QString &name) const
    {
        QFile file(QPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Loads a picture that Qt writes from image in the format the name's extension gives.
    TBitmap LoadQtImage(const QImage &image, const QString &name) const
    {
        EXPECT_TRUE(image.save(QPath(name)));
        TPicture picture;
        picture.LoadFromFile(Path(name));
        return picture.Bitmap();
    }

    QStringList Files() const { return QDir(folder_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

    QTemporaryDir folder_;
};

using PictureFilesRoundTrip = PictureFiles;
using PictureFilesLoad = PictureFiles;
using PictureFilesBadInput = PictureFiles;
using PictureFilesSave = PictureFiles;

} // namespace

TEST_F(PictureFilesRoundTrip, EveryLosslessFormatGivesBackTheSameBytes)
{
    for (const TPixelFormat format : {pf8bit, pf24bit})
        for (const QString name : {"a.bmp", "a", "a.png", "a.PNG", "a.tif", "a.tiff", "a.ppm", "a.pgm"}) {
            if (format == pf24bit && name.endsWith("pgm"))
                continue;
            for (const int width : {1, 5, 7}) {
                SCOPED_TRACE(name.toStdString() + (format == pf8bit ? " 8-bit" : " 24-bit") + " width "
                             + std::to_string(width));
                TPicture saved, loaded;
                saved.Assign(Pattern(format, width, 3));
                saved.SaveToFile(Path(name));
                loaded.LoadFromFile(Path(name));
                TBitmap expected = Pattern(format, width, 3);
                if (name.endsWith("ppm")) // a colour format: grey comes back in all three bytes
                    expected.SetPixelFormat(pf24bit);
                EXPECT_EQ(loaded.Bitmap().PixelFormat(), expected.PixelFormat());
                EXPECT_EQ(loaded.Bitmap().Width(), width);
                EXPECT_EQ(Bytes(loaded.Bitmap()), Bytes(expected));
            }
        }
    EXPECT_TRUE(Read("a").startsWith("BM")); // a name without extension holds BMP
}

TEST_F(PictureFilesLoad, GreyPicturesBecome8BitAndOthers24Bit)
{
    QImage grey(3, 1, QImage::Format_Grayscale8);
    grey.scanLine(0)[0] = 0, grey.scanLine(0)[1] = 128, grey.scanLine(0)[2] = 255;
    const TBitmap fromGrey = LoadQtImage(grey, "grey.png");
    EXPECT_EQ(fromGrey.PixelFormat(), pf8bit);
    EXPECT_EQ(Bytes(fromGrey), (std::vector<std::uint8_t>{0, 128, 255}));

    QImage palette(2, 1, QImage::Format_Indexed8);
    palette.setColorTable({qRgb(90, 90, 90), qRgb(20, 20, 20)});
    palette.scanLine(0)[0] = 1, palette.scanLine(0)[1] = 0;
    const TBitmap fromGreyPalette = LoadQtImage(palette, "palette.png");
    EXPECT_EQ(fromGreyPalette.PixelFormat(), pf8bit);
    EXPECT_EQ(Bytes(fromGreyPalette), (std::vector<std::uint8_t>{20, 90}));

    palette.setColorTable({qRgb(200, 100, 50), qRgb(1, 2, 3)});
    const TBitmap fromColourPalette = LoadQtImage(palette, "colours.png");
    EXPECT_EQ(fromColourPalette.PixelFormat(), pf24bit);
    EXPECT_EQ(Bytes(fromColourPalette), (std::vector<std::uint8_t>{3, 2, 1, 50, 100, 200}));
}

TEST_F(PictureFilesLoad, AlphaIsDroppedWithoutBlending)
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(200, 100, 50, 0));
    image.setPixel(1, 0, qRgba(200, 100, 50, 128));
    const TBitmap bitmap = LoadQtImage(image, "alpha.png");
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(Bytes(bitmap), (std::vector<std::uint8_t>{50, 100, 200, 50, 100, 200}));
}

TEST_F(PictureFilesLoad, SixteenBitChannelsAreRoundedTo8Bits)
{
    QImage grey(3, 1, QImage::Format_Grayscale16);
    auto *greyRow = reinterpret_cast<quint16 *>(grey.scanLine(0));
    greyRow[0] = 0x1234, greyRow[1] = 0x8080, greyRow[2] = 0xFFFF;
    const TBitmap fromGrey = LoadQtImage(grey, "grey16.png");
    EXPECT_EQ(fromGrey.PixelFormat(), pf8bit);
    EXPECT_EQ(Bytes(fromGrey), (std::vector<std::uint8_t>{0x12, 0x80, 0xFF}));

    QImage colour(1, 1, QImage::Format_RGBA64);
    colour.setPixelColor(0, 0, QColor::fromRgba64(0x1234, 0x8080, 0xFFFF, 0));
    const TBitmap fromColour = LoadQtImage(colour, "colour16.png");
    EXPECT_EQ(fromColour.PixelFormat(), pf24bit);
    EXPECT_EQ(Bytes(fromColour), (std::vector<std::uint8_t>{0xFF, 0x80, 0x12}));
}

TEST_F(PictureFilesBadInput, IsRefusedNamingTheFileAndKeepsThePicture)
{
    QImage photo(256, 192, QImage::Format_RGB888); // enough detail that most of a JPEG is pixel data
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x)
            photo.setPixel(x, y, qRgb(x, y, x ^ y));
    for (const char *format : {"png", "jpg", "bmp"}) {
        ASSERT_TRUE(photo.save(QPath(QString("whole.") + format)));
        const QByteArray whole = Read(QString("whole.") + format);
        Write(QString("truncated.") + format, whole.left(whole.size() * 2 / 3));
    }
    Write("empty.png", {});
    Write("text.png", "This is a note, not a picture.\n");
    Write("data.xyz", QByteArray(500, '\x7f'));
    QDir(folder_.path()).mkdir("folder.png");

    const std::vector<std::pair<QString, std::string>> cases = {
        {"missing.png", "does not exist"},   {"whole", "does not exist"}, // not whole.png
        {"folder.png", "folder"},
        {"empty.png", "empty"},              {"truncated.png", "damaged or incomplete"},
        {"truncated.jpg", "truncated"},      {"truncated.bmp", "truncated"},
        {"text.png", "not a picture"},       {"data.xyz", "not a picture"}};
    for (const auto &[name, reason] : cases) {
        SCOPED_TRACE(name.toStdString());
        TPicture picture;
        picture.Assign(Pattern(pf24bit, 3, 2));
        const std::string message = FailureOf([&] { picture.LoadFromFile(Path(name)); });
        const std::string opening = "Cannot load " + Path(name) + ": ";
        EXPECT_EQ(message.substr(0, opening.size()), opening);
        EXPECT_NE(message.find(reason, opening.size()), std::string::npos) << message;
        EXPECT_EQ(Bytes(picture.Bitmap()), Bytes(Pattern(pf24bit, 3, 2)));
    }
}

TEST_F(PictureFilesBadInput, PictureAboveThePixelLimitIsRefusedFromItsHeader)
{
    // The header of a 100000 x 100000 RGB picture, followed by no pixel data.
    const QByteArray size = BigEndian32(100000) + BigEndian32(100000) + QByteArray("\x08\x02\x00\x00\x00", 5);
    Write("huge.png", QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", size) + PngChunk("IDAT", {})
                          + PngChunk("IEND", {}));
    TPicture picture;
    const std::string message = FailureOf([&] { picture.LoadFromFile(Path("huge.png")); });
    EXPECT_NE(message.find("100000 x 100000"), std::string::npos) << message;
    EXPECT_NE(message.find(std::to_string(TPicture::MaxPixels)), std::string::npos) << message;
}

TEST_F(PictureFilesSave, LossyAndUnknownExtensionsAreRefused)
{
    TPicture picture;
    picture.Assign(Pattern(pf24bit, 3, 2));
    for (const QString name : {"a.jpg", "a.JPEG", "a.webp", "a.gif", "a.xyz"}) {
        const std::string message = FailureOf([&] { picture.SaveToFile(Path(name)); });
        EXPECT_NE(message.find(".bmp, .png, .tif, .tiff, .ppm, .pgm"), std::string::npos) << message;
    }
    EXPECT_NE(FailureOf([&] { picture.SaveToFile(Path("colour.pgm")); }).find("grey"), std::string::npos);
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_EQ(TPicture::LosslessExtensions().front(), "bmp");
}

TEST_F(PictureFilesSave, EmptyPictureIsRefused)
{
    EXPECT_EQ(FailureOf([&] { TPicture().SaveToFile(Path("a.png")); }),
              "There is nothing to save: the picture is empty.");
}

TEST_F(PictureFilesSave, FailedSaveLeavesNoFileBehind)
{
    TPicture picture;
    picture.Assign(Pattern(pf24bit, 3, 2));
    const std::string missing = Path("no such folder/a.png");
    EXPECT_NE(FailureOf([&] { picture.SaveToFile(missing); }).find(missing), std::string::npos);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(missing)));

    // Replacing a pipe (or a device such as /dev/full) would turn it into a plain file.
    ASSERT_EQ(mkfifo(Path("pipe.bmp").c_str(), 0600), 0);
    EXPECT_NE(FailureOf([&] { picture.SaveToFile(Path("pipe.bmp")); }).find("not a regular file"), std::string::npos);
    struct stat status {};
    ASSERT_EQ(stat(Path("pipe.bmp").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(PictureFilesSave, ShortWriteKeepsTheExistingFile)
{
    TPicture picture;
    picture.Assign(Pattern(pf24bit, 160, 120)); // about 57 KB in every format
    for (const QString name : {"old.bmp", "old.png", "old.tif", "old.ppm"}) {
        SCOPED_TRACE(name.toStdString());
        Write(name, "the old file");
        const std::string message = [&] {
            const FileSizeLimit limit(4096);
            return FailureOf([&] { picture.SaveToFile(Path(name)); });
        }();
        EXPECT_NE(message.find("Cannot save " + Path(name)), std::string::npos) << message;
        EXPECT_EQ(Read(name), "the old file");
        EXPECT_EQ(Files(), QStringList{name}); // no temporary file left
        QFile::remove(QPath(name));
    }
}

TEST_F(PictureFilesSave, ReadOnlyFolderKeepsTheExistingFile)
{
    Write("old.png", "the old file");
    ASSERT_TRUE(QFile::setPermissions(folder_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const bool folderIsWritable = access(folder_.path().toLocal8Bit().constData(), W_OK) == 0;
    TPicture picture;
    picture.Assign(Pattern(pf8bit, 3, 2));
    std::string message;
    if (!folderIsWritable)
        message = FailureOf([&] { picture.SaveToFile(Path("old.png")); });
    QFile::setPermissions(folder_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (folderIsWritable)
        GTEST_SKIP() << "running as root: a read-only folder does not stop writing";
    EXPECT_NE(message.find("could not be created"), std::string::npos) << message;
    EXPECT_EQ(Read("old.png"), "the old file");
    EXPECT_EQ(Files(), QStringList{"old.png"});
}
