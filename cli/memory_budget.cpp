#include "memory_budget.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

// The peak of one stack's fusion in bytes per pixel of its first shot, beside edgedom-cli's fixed
// footprint: (the largest maximum resident set size of 3 runs of `edgedom-cli --fused F.png
// --source-map S.png` on a stack, less that of `edgedom-cli --version`) / the pixels, given a
// tenth more and rounded up. Measured by `bench/batch_speed.py --peaks-only` on the first 8 shots
// of the real stack pcb10 (3.1 MP), as JPEG (8 bits) and as 16-bit PNG, each without and with
// --align: 27.3, 40.9, 46.9 and 61.9 bytes per pixel (table in docs/performance.md).
constexpr double EightBitPeak = 31;
constexpr double EightBitAlignedPeak = 45;
constexpr double SixteenBitPeak = 52;
constexpr double SixteenBitAlignedPeak = 69;

} // namespace

std::uint64_t StackPeakBytes(long long pixels, bool sixteenBits, bool align)
{
    const double perPixel = sixteenBits ? (align ? SixteenBitAlignedPeak : SixteenBitPeak)
                                        : (align ? EightBitAlignedPeak : EightBitPeak);
    return static_cast<std::uint64_t>(perPixel * static_cast<double>(pixels));
}

std::optional<std::uint64_t> AvailableMemory()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kilobytes = 0;
        if (fields >> key >> kilobytes && key == "MemAvailable:")
            return kilobytes * 1024;
    }
    return std::nullopt;
}
