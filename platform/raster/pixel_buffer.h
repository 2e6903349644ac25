// Zero-filled byte storage for pixel rows and label buffers. Large buffers are mapped
// straight from the kernel and asked to sit on transparent huge pages: on first touch a
// 50-megapixel picture otherwise costs tens of thousands of page faults, which on a
// virtual machine take longer than the pixel loops that fill the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

class PixelBuffer {
public:
    PixelBuffer() = default;
    explicit PixelBuffer(std::size_t size); // all bytes 0; raises std::bad_alloc
    PixelBuffer(const PixelBuffer &other);
    PixelBuffer &operator=(const PixelBuffer &other);
    PixelBuffer(PixelBuffer &&other) noexcept;
    PixelBuffer &operator=(PixelBuffer &&other) noexcept;
    ~PixelBuffer();

    std::uint8_t *data() noexcept { return data_; }
    const std::uint8_t *data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

    // Keeps the first size bytes (size <= size()) and gives the rest back to the system.
    void Shrink(std::size_t size) noexcept;

private:
    void Release() noexcept;

    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0; // bytes mapped from the kernel; 0 for small buffers from the heap
};
