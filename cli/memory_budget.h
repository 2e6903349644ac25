// How much memory fusing one stack takes at its peak and how much the machine has free, so that a
// batch fuses at once only as many stacks as fit, never more than the memory available.
#pragma once

#include <cstdint>
#include <optional>

// The bytes that fusing a stack (with its source map, and the save of both) adds at its peak to
// the program's own, for a first shot of pixels pixels, kept at 16 bits a channel or not, aligned
// or not; from the peaks measured on real stacks (see memory_budget.cpp).
std::uint64_t StackPeakBytes(long long pixels, bool sixteenBits, bool align);

// The memory that can still be taken without swapping (MemAvailable of /proc/meminfo), in bytes;
// none when it cannot be read.
std::optional<std::uint64_t> AvailableMemory();
