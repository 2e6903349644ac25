// The file is laid out as PNG asks: the signature, IHDR, an optional iCCP, the zlib stream
// of the filtered rows cut into IDAT chunks, and IEND. libdeflate compresses the whole
// stream at once, which is what makes it fast, so the filtered rows are held in full.
#include "png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

// The most data bytes an IDAT chunk holds; the stream continues in the next.
constexpr std::size_t IdatBytes = std::size_t{1} << 18;

constexpr std::array<std::uint8_t, 8> Signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The name PNG asks an embedded profile to have (1 to 79 Latin-1 characters).
constexpr char ProfileName[] = "ICC profile";

void PutBigEndian32(std::uint8_t *at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Completes the chunk whose data (length bytes) already lies at at + 8: its length, type
// and the CRC-32 of type and data. Returns where the next chunk starts.
std::uint8_t *CloseChunk(std::uint8_t *at, const char *type, std::size_t length)
{
    PutBigEndian32(at, static_cast<std::uint32_t>(length));
    std::memcpy(at + 4, type, 4);
    PutBigEndian32(at + 8 + length, libdeflate_crc32(0, at + 4, length + 4));
    return at + 12 + length;
}

std::uint8_t *PutChunk(std::uint8_t *at, const char *type, std::span<const std::uint8_t> data)
{
    std::copy(data.begin(), data.end(), at + 8);
    return CloseChunk(at, type, data.size());
}

using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

Compressor CompressorAt(int level)
{
    Compressor compressor(libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
    if (!compressor)
        throw std::bad_alloc(); // the level is checked by the caller
    return compressor;
}

std::array<std::uint8_t, 13> Header(const TBitmap &bitmap)
{
    std::array<std::uint8_t, 13> header{};
    PutBigEndian32(header.data(), static_cast<std::uint32_t>(bitmap.Width()));
    PutBigEndian32(header.data() + 4, static_cast<std::uint32_t>(bitmap.Height()));
    header[8] = bitmap.PixelFormat() == pf48bit ? 16 : 8;  // bits a sample
    header[9] = bitmap.PixelFormat() == pf8bit ? 0 : 2;    // grey or RGB; compression, filter
    return header;                                         // method and interlacing all 0
}

// The iCCP chunk's data: the profile's name, its end, compression method 0 and the zlib
// stream of the profile.
std::vector<std::uint8_t> ProfileChunkData(libdeflate_compressor *compressor, std::span<const std::uint8_t> profile)
{
    std::vector<std::uint8_t> data(ProfileName, ProfileName + sizeof ProfileName); // with its 0
    data.push_back(0);
    const std::size_t head = data.size();
    data.resize(head + libdeflate_zlib_compress_bound(compressor, profile.size()));
    data.resize(head + libdeflate_zlib_compress(compressor, profile.data(), profile.size(), data.data() + head,
                                                data.size() - head));
    return data;
}

// Each row's filter type byte followed by its filtered samples, the filter fixed or chosen
// row by row as the one of the least cost.
PixelBuffer FilteredRows(const TBitmap &bitmap, const PngEncoding &encoding)
{
    const int width = bitmap.Width(), bpp = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bpp;
    PixelBuffer rows((rowBytes + 1) * static_cast<std::size_t>(bitmap.Height()));
    std::vector<std::uint8_t> samples(2 * rowBytes), trial(encoding.adaptive ? rowBytes : 0); // above is 0 at first
    std::uint8_t *row = samples.data(), *above = samples.data() + rowBytes;
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::swap(row, above);
        PngSamplesRow(bitmap.ScanLine(y), row, width, bitmap.PixelFormat());
        std::uint8_t *out = rows.data() + (rowBytes + 1) * static_cast<std::size_t>(y);
        PngFilter filter = encoding.filter;
        if (encoding.adaptive) {
            std::uint64_t least = UINT64_MAX;
            for (const PngFilter candidate : {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average,
                                              PngFilter::Paeth}) {
                FilterRow(candidate, row, above, trial.data(), rowBytes, bpp);
                if (const std::uint64_t cost = FilteredRowCost(trial.data(), rowBytes); cost < least)
                    least = cost, filter = candidate;
            }
        }
        out[0] = static_cast<std::uint8_t>(filter);
        FilterRow(filter, row, above, out + 1, rowBytes, bpp);
    }
    return rows;
}

// Turns the zlib stream of length bytes at at + 8 into IDAT chunks of IdatBytes each (the
// last shorter): from the last chunk back, each moves up by the 12 bytes of framing of the
// chunks before it. Returns where the next chunk starts.
std::uint8_t *CutIntoIdatChunks(std::uint8_t *at, std::size_t length)
{
    const std::size_t chunks = std::max<std::size_t>(1, (length + IdatBytes - 1) / IdatBytes);
    for (std::size_t i = chunks - 1; i > 0; --i)
        std::memmove(at + 8 + i * (IdatBytes + 12), at + 8 + i * IdatBytes, std::min(IdatBytes, length - i * IdatBytes));
    for (std::size_t i = 0; i < chunks; ++i)
        at = CloseChunk(at, "IDAT", std::min(IdatBytes, length - i * IdatBytes));
    return at;
}

} // namespace

std::size_t EncodePng(const TBitmap &bitmap, std::span<const std::uint8_t> iccProfile, const PngOutput &output,
                      const PngEncoding &encoding)
{
    if (encoding.level < 1 || encoding.level > 12)
        throw std::invalid_argument("EncodePng: libdeflate's levels are 1 to 12");
    const Compressor compressor = CompressorAt(encoding.level);
    const std::vector<std::uint8_t> profile =
        iccProfile.empty() ? std::vector<std::uint8_t>() : ProfileChunkData(compressor.get(), iccProfile);
    const PixelBuffer rows = FilteredRows(bitmap, encoding);
    const std::size_t streamBound = libdeflate_zlib_compress_bound(compressor.get(), rows.size());
    const std::size_t framing = Signature.size() + 25 + (profile.empty() ? 0 : 12 + profile.size())
                                + 12 * (streamBound / IdatBytes + 1) + 12;
    std::uint8_t *const start = output(framing + streamBound);
    std::uint8_t *at = std::copy(Signature.begin(), Signature.end(), start);
    at = PutChunk(at, "IHDR", Header(bitmap));
    if (!profile.empty())
        at = PutChunk(at, "iCCP", profile);
    const std::size_t stream = libdeflate_zlib_compress(compressor.get(), rows.data(), rows.size(), at + 8, streamBound);
    if (stream == 0)
        throw std::logic_error("EncodePng: the zlib stream is larger than libdeflate's bound");
    at = CutIntoIdatChunks(at, stream);
    at = CloseChunk(at, "IEND", 0);
    return static_cast<std::size_t>(at - start);
}
