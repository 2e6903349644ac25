// The file is laid out as PNG asks: the signature, IHDR, an optional iCCP, the zlib stream
// of the filtered rows in IDAT chunks, and IEND. ISA-L's igzip deflates the rows a band at a
// time as they are filtered, straight into the IDAT chunks, so that beside the bitmap and
// the file only a band of filtered rows is held.
#include "png_writer.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// The most data bytes an IDAT chunk holds; the stream continues in the next.
constexpr std::size_t IdatBytes = std::size_t{1} << 18;

// About how many filtered bytes are deflated at once: a band of rows that stays in the cache.
constexpr std::size_t BandBytes = std::size_t{1} << 17;

constexpr std::array<std::uint8_t, 8> Signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The name PNG asks an embedded profile to have (1 to 79 Latin-1 characters).
constexpr char ProfileName[] = "ICC profile";

// The most bytes igzip makes of size bytes at levels 1 to 3, which store what they cannot
// compress (its level 0 does not: random bytes grow by a quarter there), with a wide margin.
std::size_t StreamBound(std::size_t size) { return size + size / 32 + 4096; }

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
    PutBigEndian32(at + 8 + length, crc32_gzip_refl(0, at + 4, length + 4));
    return at + 12 + length;
}

std::uint8_t *PutChunk(std::uint8_t *at, const char *type, std::span<const std::uint8_t> data)
{
    std::copy(data.begin(), data.end(), at + 8);
    return CloseChunk(at, type, data.size());
}

std::array<std::uint8_t, 13> Header(const TBitmap &bitmap)
{
    std::array<std::uint8_t, 13> header{};
    PutBigEndian32(header.data(), static_cast<std::uint32_t>(bitmap.Width()));
    PutBigEndian32(header.data() + 4, static_cast<std::uint32_t>(bitmap.Height()));
    header[8] = bitmap.PixelFormat() == pf48bit ? 16 : 8; // bits a sample
    header[9] = bitmap.PixelFormat() == pf8bit ? 0 : 2;   // grey or RGB; compression, filter
    return header;                                        // method and interlacing all 0
}

// igzip's zlib stream at level (1 to 3), with the memory that level works in.
class ZlibStream {
public:
    explicit ZlibStream(int level)
    {
        static constexpr std::uint32_t workBytes[] = {ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT,
                                                      ISAL_DEF_LVL3_DEFAULT};
        work_.resize(workBytes[level - 1]);
        isal_deflate_init(&stream_);
        stream_.level = static_cast<std::uint32_t>(level);
        stream_.level_buf = work_.data();
        stream_.level_buf_size = static_cast<std::uint32_t>(work_.size());
        stream_.gzip_flag = IGZIP_ZLIB;
    }

    // Takes size more bytes of data; the last call ends the stream.
    void Take(const std::uint8_t *data, std::size_t size, bool last)
    {
        stream_.next_in = const_cast<std::uint8_t *>(data);
        stream_.avail_in = static_cast<std::uint32_t>(size);
        stream_.end_of_stream = last;
    }

    // Deflates what it was given into output, room bytes at most; returns the bytes written.
    std::size_t Deflate(std::uint8_t *output, std::size_t room)
    {
        stream_.next_out = output;
        stream_.avail_out = static_cast<std::uint32_t>(room);
        if (isal_deflate(&stream_) != COMP_OK)
            throw std::logic_error("EncodePng: igzip refused its settings");
        return room - stream_.avail_out;
    }

    // True when all data given is deflated: for the last, when the stream is complete.
    bool Done() const
    {
        return stream_.avail_in == 0 && (!stream_.end_of_stream || stream_.internal_state.state == ZSTATE_END);
    }

private:
    isal_zstream stream_{};
    std::vector<std::uint8_t> work_;
};

// The zlib stream of the filtered rows cut into IDAT chunks as it is made, in memory that
// ends at end.
class IdatChunks {
public:
    IdatChunks(int level, std::uint8_t *at, const std::uint8_t *end) : stream_(level), at_(at), end_(end) {}

    void Add(const std::uint8_t *data, std::size_t size, bool last)
    {
        stream_.Take(data, size, last);
        while (!stream_.Done()) {
            // Room for this chunk's data, leaving its CRC and the IEND chunk.
            const std::size_t room = std::min<std::size_t>(IdatBytes, static_cast<std::size_t>(end_ - at_) - 24);
            length_ += stream_.Deflate(at_ + 8 + length_, room - length_);
            if (length_ == room && room < IdatBytes)
                throw std::logic_error("EncodePng: the zlib stream is larger than its bound");
            if (length_ == IdatBytes)
                at_ = CloseChunk(at_, "IDAT", length_), length_ = 0;
        }
    }

    // Closes the last chunk; returns where the next chunk starts.
    std::uint8_t *Close() { return length_ > 0 ? CloseChunk(at_, "IDAT", length_) : at_; }

private:
    ZlibStream stream_;
    std::uint8_t *at_;
    const std::uint8_t *end_;
    std::size_t length_ = 0; // data bytes in the chunk at at_
};

// The iCCP chunk's data: the profile's name, its end, compression method 0 and the zlib
// stream of the profile.
std::vector<std::uint8_t> ProfileChunkData(std::span<const std::uint8_t> profile)
{
    std::vector<std::uint8_t> data(ProfileName, ProfileName + sizeof ProfileName); // with its 0
    data.push_back(0);
    const std::size_t head = data.size();
    data.resize(head + StreamBound(profile.size()));
    ZlibStream stream(1);
    stream.Take(profile.data(), profile.size(), true);
    data.resize(head + stream.Deflate(data.data() + head, data.size() - head));
    if (!stream.Done())
        throw std::logic_error("EncodePng: the profile's zlib stream is larger than its bound");
    return data;
}

// Writes each row's filter type byte and its filtered samples to out: rows first to last,
// the filter fixed or, adaptively, the one of the least cost for the row. Keeps the row
// above between calls.
class RowFilter {
public:
    RowFilter(const TBitmap &bitmap, const PngEncoding &encoding)
        : bitmap_(bitmap), encoding_(encoding), bpp_(TBitmap::BytesPerPixel(bitmap.PixelFormat())),
          rowBytes_(static_cast<std::size_t>(bitmap.Width()) * bpp_), samples_(2 * rowBytes_),
          trial_(encoding.adaptive ? rowBytes_ : 0)
    {
    }

    std::size_t FilteredRowBytes() const { return rowBytes_ + 1; }

    void Filter(int y, std::uint8_t *out)
    {
        std::swap(row_, above_); // above_ is all 0 for the first row
        PngSamplesRow(bitmap_.ScanLine(y), row_, bitmap_.Width(), bitmap_.PixelFormat());
        PngFilter filter = encoding_.filter;
        if (encoding_.adaptive) {
            std::uint64_t least = UINT64_MAX;
            for (const PngFilter candidate :
                 {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth}) {
                FilterRow(candidate, row_, above_, trial_.data(), rowBytes_, bpp_);
                if (const std::uint64_t cost = FilteredRowCost(trial_.data(), rowBytes_); cost < least)
                    least = cost, filter = candidate;
            }
        }
        out[0] = static_cast<std::uint8_t>(filter);
        FilterRow(filter, row_, above_, out + 1, rowBytes_, bpp_);
    }

private:
    const TBitmap &bitmap_;
    const PngEncoding &encoding_;
    int bpp_;
    std::size_t rowBytes_;
    std::vector<std::uint8_t> samples_, trial_;
    std::uint8_t *row_ = samples_.data(), *above_ = samples_.data() + rowBytes_;
};

// Filters the bitmap's rows a band at a time and deflates each band into IDAT chunks from
// at, in memory that ends at end. Returns where the next chunk starts.
std::uint8_t *WriteImageData(const TBitmap &bitmap, const PngEncoding &encoding, std::uint8_t *at,
                             const std::uint8_t *end)
{
    RowFilter filter(bitmap, encoding);
    const std::size_t rowBytes = filter.FilteredRowBytes();
    const int bandRows = static_cast<int>(std::max<std::size_t>(1, BandBytes / rowBytes));
    std::vector<std::uint8_t> band(rowBytes * static_cast<std::size_t>(bandRows));
    IdatChunks chunks(encoding.level, at, end);
    for (int y = 0; y < bitmap.Height(); y += bandRows) {
        const int rows = std::min(bandRows, bitmap.Height() - y);
        for (int i = 0; i < rows; ++i)
            filter.Filter(y + i, band.data() + rowBytes * static_cast<std::size_t>(i));
        chunks.Add(band.data(), rowBytes * static_cast<std::size_t>(rows), y + rows == bitmap.Height());
    }
    return chunks.Close();
}

} // namespace

std::size_t EncodePng(const TBitmap &bitmap, std::span<const std::uint8_t> iccProfile, const PngOutput &output,
                      const PngEncoding &encoding)
{
    if (encoding.level < 1 || encoding.level > 3)
        throw std::invalid_argument("EncodePng: the levels are igzip's 1 to 3");
    const std::vector<std::uint8_t> profile =
        iccProfile.empty() ? std::vector<std::uint8_t>() : ProfileChunkData(iccProfile);
    const std::size_t filtered = (static_cast<std::size_t>(bitmap.Width()) * TBitmap::BytesPerPixel(bitmap.PixelFormat())
                                  + 1) * static_cast<std::size_t>(bitmap.Height());
    const std::size_t streamBound = StreamBound(filtered);
    const std::size_t framing = Signature.size() + 25 + (profile.empty() ? 0 : 12 + profile.size())
                                + 12 * (streamBound / IdatBytes + 1) + 12;
    const std::size_t maxBytes = framing + streamBound;
    std::uint8_t *const start = output(maxBytes);
    std::uint8_t *at = std::copy(Signature.begin(), Signature.end(), start);
    at = PutChunk(at, "IHDR", Header(bitmap));
    if (!profile.empty())
        at = PutChunk(at, "iCCP", profile);
    at = WriteImageData(bitmap, encoding, at, start + maxBytes);
    at = CloseChunk(at, "IEND", 0);
    return static_cast<std::size_t>(at - start);
}
