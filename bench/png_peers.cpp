#include "png_peers.h"

#include "exception.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

// An image over the bitmap's rows (pf8bit, pf24bit) or an RGBX64 copy (pf48bit), as TPicture
// gave Qt's writer.
QImage ImageOf(const TBitmap &bitmap)
{
    if (bitmap.PixelFormat() != pf48bit)
        return QImage(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(), static_cast<qsizetype>(bitmap.RowStride()),
                      bitmap.PixelFormat() == pf8bit ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGBX64);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const auto *from = reinterpret_cast<const std::uint16_t *>(bitmap.ScanLine(y));
        auto *to = reinterpret_cast<QRgba64 *>(image.scanLine(y));
        for (int x = 0; x < bitmap.Width(); ++x)
            to[x] = qRgba64(from[3 * x + 2], from[3 * x + 1], from[3 * x], 0xFFFF);
    }
    return image;
}

void Check(int status, const char *what)
{
    if (status != 0)
        throw Exception(std::string("libspng: ") + what + ": " + spng_strerror(status));
}

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

void PutBigEndian32(std::vector<std::uint8_t> &bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendChunk(std::vector<std::uint8_t> &file, const char *type, const std::uint8_t *data, std::size_t size)
{
    PutBigEndian32(file, static_cast<std::uint32_t>(size));
    const std::size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data, data + size);
    PutBigEndian32(file, static_cast<std::uint32_t>(crc32(0, file.data() + start, static_cast<uInt>(size + 4))));
}

std::vector<std::uint8_t> Header(const TBitmap &bitmap)
{
    std::vector<std::uint8_t> header;
    PutBigEndian32(header, static_cast<std::uint32_t>(bitmap.Width()));
    PutBigEndian32(header, static_cast<std::uint32_t>(bitmap.Height()));
    header.insert(header.end(), {static_cast<std::uint8_t>(bitmap.PixelFormat() == pf48bit ? 16 : 8),
                                 static_cast<std::uint8_t>(bitmap.PixelFormat() == pf8bit ? 0 : 2), 0, 0, 0});
    return header;
}

} // namespace

std::vector<std::uint8_t> QtPng(const TBitmap &bitmap)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(ImageOf(bitmap)))
        throw Exception("Qt's PNG writer failed: " + writer.errorString().toStdString());
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> SpngPng(const TBitmap &bitmap, int level)
{
    SpngContext context(spng_ctx_new(SPNG_CTX_ENCODER), &spng_ctx_free);
    spng_ctx *ctx = context.get();
    Check(spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1), "output");
    Check(spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level), "level");
    const std::vector<std::uint8_t> header = Header(bitmap);
    spng_ihdr ihdr{static_cast<std::uint32_t>(bitmap.Width()), static_cast<std::uint32_t>(bitmap.Height()), header[8],
                   header[9], 0, 0, 0};
    Check(spng_set_ihdr(ctx, &ihdr), "header");
    Check(spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE), "start");
    const int bpp = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.Width()) * bpp);
    for (int y = 0; y < bitmap.Height(); ++y) {
        PngSamplesRow(bitmap.ScanLine(y), row.data(), bitmap.Width(), bitmap.PixelFormat());
        if (bpp == 6) // libspng takes 16-bit samples of SPNG_FMT_PNG in the machine's byte order
            for (std::size_t i = 0; i < row.size(); i += 2)
                std::swap(row[i], row[i + 1]);
        const int status = spng_encode_row(ctx, row.data(), row.size());
        if (status != SPNG_EOI)
            Check(status, "row");
    }
    std::size_t size = 0;
    int status = 0;
    std::unique_ptr<void, decltype(&std::free)> png(spng_get_png_buffer(ctx, &size, &status), &std::free);
    Check(status, "buffer");
    const auto *bytes = static_cast<const std::uint8_t *>(png.get());
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

std::vector<std::uint8_t> ZlibPng(const TBitmap &bitmap, int level, PngFilter filter)
{
    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::vector<std::uint8_t> header = Header(bitmap);
    AppendChunk(file, "IHDR", header.data(), header.size());
    z_stream stream{};
    if (deflateInit(&stream, level) != Z_OK)
        throw Exception("zlib: deflateInit failed");
    const int bpp = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * bpp;
    std::vector<std::uint8_t> samples(2 * rowBytes), filtered(rowBytes + 1), out(1 << 18);
    std::uint8_t *row = samples.data(), *above = samples.data() + rowBytes;
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    for (int y = 0; y <= bitmap.Height(); ++y) {
        const bool last = y == bitmap.Height();
        if (!last) {
            std::swap(row, above);
            PngSamplesRow(bitmap.ScanLine(y), row, bitmap.Width(), bitmap.PixelFormat());
            filtered[0] = static_cast<std::uint8_t>(filter);
            FilterRow(filter, row, above, filtered.data() + 1, rowBytes, bpp);
        }
        stream.next_in = filtered.data();
        stream.avail_in = last ? 0 : static_cast<uInt>(filtered.size());
        int status = Z_OK;
        while (stream.avail_in > 0 || (last && status != Z_STREAM_END)) {
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (stream.avail_out == 0 || status == Z_STREAM_END) { // a full output becomes an IDAT chunk
                AppendChunk(file, "IDAT", out.data(), out.size() - stream.avail_out);
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
            }
        }
    }
    deflateEnd(&stream);
    AppendChunk(file, "IEND", nullptr, 0);
    return file;
}

bool QtDecodesTo(const std::vector<std::uint8_t> &file, const TBitmap &bitmap)
{
    const QImage::Format format = bitmap.PixelFormat() == pf8bit    ? QImage::Format_Grayscale8
                                  : bitmap.PixelFormat() == pf24bit ? QImage::Format_BGR888
                                                                    : QImage::Format_RGBX64;
    const QImage image = QImage::fromData(file.data(), static_cast<int>(file.size()), "png").convertToFormat(format);
    if (image.width() != bitmap.Width() || image.height() != bitmap.Height())
        return false;
    const QImage expected = ImageOf(bitmap);
    const auto rowBytes = static_cast<std::size_t>(image.width()) * image.depth() / 8;
    for (int y = 0; y < bitmap.Height(); ++y)
        if (std::memcmp(image.constScanLine(y), expected.constScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

long long QtDecodePng(const std::string &fileName)
{
    QImageReader reader(QString::fromStdString(fileName));
    const QImage image = reader.read();
    if (image.isNull())
        throw Exception("Qt cannot read " + fileName + ": " + reader.errorString().toStdString());
    return static_cast<long long>(image.width()) * image.height();
}

std::vector<std::uint8_t> LibdeflatePng(const TBitmap &bitmap, int level, PngFilter filter)
{
    const int bpp = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * bpp;
    // The rows on huge pages and the stream uninitialised, so that neither costs a pass of its own.
    std::vector<std::uint8_t> samples(2 * rowBytes);
    PixelBuffer rows((rowBytes + 1) * static_cast<std::size_t>(bitmap.Height()));
    std::uint8_t *row = samples.data(), *above = samples.data() + rowBytes;
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::swap(row, above);
        PngSamplesRow(bitmap.ScanLine(y), row, bitmap.Width(), bitmap.PixelFormat());
        std::uint8_t *out = rows.data() + (rowBytes + 1) * static_cast<std::size_t>(y);
        out[0] = static_cast<std::uint8_t>(filter);
        FilterRow(filter, row, above, out + 1, rowBytes, bpp);
    }
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), rows.size());
    const std::unique_ptr<std::uint8_t[]> stream(new std::uint8_t[bound]);
    const std::size_t size = libdeflate_zlib_compress(compressor.get(), rows.data(), rows.size(), stream.get(), bound);
    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::vector<std::uint8_t> header = Header(bitmap);
    AppendChunk(file, "IHDR", header.data(), header.size());
    AppendChunk(file, "IDAT", stream.get(), size);
    AppendChunk(file, "IEND", nullptr, 0);
    return file;
}

TBitmap SpngReadPng(const std::string &fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SpngContext context(spng_ctx_new(0), &spng_ctx_free);
    spng_ctx *ctx = context.get();
    Check(spng_set_png_buffer(ctx, file.data(), file.size()), "input");
    spng_ihdr ihdr{};
    Check(spng_get_ihdr(ctx, &ihdr), "header");
    const bool grey = ihdr.color_type == 0 && ihdr.bit_depth == 8, deep = ihdr.color_type == 2 && ihdr.bit_depth == 16;
    if (!grey && !deep && !(ihdr.color_type == 2 && ihdr.bit_depth == 8))
        throw Exception("SpngReadPng reads only 8-bit grey and 8- or 16-bit RGB: " + fileName);
    TBitmap bitmap;
    bitmap.SetPixelFormat(grey ? pf8bit : deep ? pf48bit : pf24bit);
    bitmap.SetSize(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height));
    // The whole picture at once, on huge pages; 16-bit samples come host-endian with SPNG_FMT_PNG.
    const int fmt = grey ? SPNG_FMT_G8 : deep ? SPNG_FMT_PNG : SPNG_FMT_RGB8;
    std::size_t size = 0;
    Check(spng_decoded_image_size(ctx, fmt, &size), "size");
    PixelBuffer image(size);
    Check(spng_decode_image(ctx, image.data(), size, fmt, 0), "decode");
    const int bpp = TBitmap::BytesPerPixel(bitmap.PixelFormat()), channelBytes = deep ? 2 : 1;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * bpp;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t *row = image.data() + rowBytes * y;
        std::uint8_t *to = bitmap.ScanLine(y);
        if (grey) {
            std::memcpy(to, row, rowBytes);
            continue;
        }
        for (int x = 0; x < bitmap.Width(); ++x) // red, green, blue to blue, green, red
            for (int c = 0; c < 3; ++c)
                std::memcpy(to + bpp * x + channelBytes * c, row + bpp * x + channelBytes * (2 - c),
                            static_cast<std::size_t>(channelBytes));
    }
    return bitmap;
}
