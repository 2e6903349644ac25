#include "pixel_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace {

constexpr std::size_t HugePage = std::size_t{2} << 20;

// Buffers from this size on are mapped on their own; smaller ones come from the heap.
constexpr std::size_t MappedFrom = HugePage;

std::size_t RoundUpToHugePage(std::size_t size) { return (size + HugePage - 1) / HugePage * HugePage; }

// Maps zeroed memory aligned to a huge page: maps one huge page more than needed and
// unmaps the unaligned head and the tail, since the kernel may return any page boundary.
std::uint8_t *MapHugeAligned(std::size_t mapped)
{
    const std::size_t padded = mapped + HugePage;
    void *raw = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + HugePage - 1) / HugePage * HugePage;
    if (aligned > start)
        munmap(raw, aligned - start);
    const std::size_t tail = padded - (aligned - start) - mapped;
    if (tail > 0)
        munmap(reinterpret_cast<void *>(aligned + mapped), tail);
    madvise(reinterpret_cast<void *>(aligned), mapped, MADV_HUGEPAGE);
    return reinterpret_cast<std::uint8_t *>(aligned);
}

} // namespace

PixelBuffer::PixelBuffer(std::size_t size) : size_(size)
{
    if (size == 0)
        return;
    if (size >= MappedFrom) {
        mapped_ = RoundUpToHugePage(size);
        data_ = MapHugeAligned(mapped_);
    } else {
        data_ = static_cast<std::uint8_t *>(std::calloc(size, 1));
        if (data_ == nullptr)
            throw std::bad_alloc();
    }
}

PixelBuffer::PixelBuffer(const PixelBuffer &other) : PixelBuffer(other.size_)
{
    if (size_ > 0)
        std::memcpy(data_, other.data_, size_);
}

PixelBuffer &PixelBuffer::operator=(const PixelBuffer &other)
{
    if (this == &other)
        return *this;
    if (other.size_ != size_)
        *this = PixelBuffer(other.size_);
    if (size_ > 0)
        std::memcpy(data_, other.data_, size_);
    return *this;
}

PixelBuffer::PixelBuffer(PixelBuffer &&other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0))
{
}

PixelBuffer &PixelBuffer::operator=(PixelBuffer &&other) noexcept
{
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

PixelBuffer::~PixelBuffer() { Release(); }

void PixelBuffer::Release() noexcept
{
    if (mapped_ > 0)
        munmap(data_, mapped_);
    else
        std::free(data_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = 0;
}

void PixelBuffer::Shrink(std::size_t size) noexcept
{
    if (size >= size_)
        return;
    if (size == 0) {
        Release();
        return;
    }
    if (mapped_ > 0) {
        const std::size_t kept = RoundUpToHugePage(size);
        if (kept < mapped_)
            munmap(data_ + kept, mapped_ - kept);
        mapped_ = kept;
    } else if (void *smaller = std::realloc(data_, size)) {
        data_ = static_cast<std::uint8_t *>(smaller);
    }
    size_ = size;
}
