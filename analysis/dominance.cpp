#include "dominance.h"

#include "exception.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string SizeText(const TBitmap &bitmap)
{
    return std::to_string(bitmap.Width()) + " x " + std::to_string(bitmap.Height());
}

void RequireAtLeastFirstSize(const TBitmap &first, const TBitmap &other, const char *which)
{
    if (other.Width() >= first.Width() && other.Height() >= first.Height())
        return;
    throw Exception(std::string("The ") + which + " picture (" + SizeText(other)
                    + " pixels) is smaller than the first (" + SizeText(first)
                    + " pixels). The dominance map compares the pictures pixel by pixel: load "
                      "three pictures of the same size.");
}

// The source's pf8bit bytes: the source itself when it is pf8bit already, else a
// converted copy kept in storage.
const TBitmap &GreyBytes(const TBitmap &source, TBitmap &storage)
{
    if (source.PixelFormat() == pf8bit)
        return source;
    storage.Assign(source);
    storage.SetPixelFormat(pf8bit);
    return storage;
}

// strict[x] = the class whose value is strictly the largest at x, or 0 on a tie.
void StrictClassRow(const std::uint8_t *p1, const std::uint8_t *p2, const std::uint8_t *p3,
                    std::uint8_t *strict, int width)
{
    for (int x = 0; x < width; ++x) {
        const int a = p1[x], b = p2[x], c = p3[x];
        strict[x] = static_cast<std::uint8_t>((a > b && a > c) * 1 | (b > a && b > c) * 2
                                              | (c > a && c > b) * 3);
    }
}

} // namespace

TBitmap ComputeDominanceMap(const TBitmap &first, const TBitmap &second, const TBitmap &third)
{
    RequireAtLeastFirstSize(first, second, "second");
    RequireAtLeastFirstSize(first, third, "third");

    TBitmap copies[3];
    const TBitmap &grey1 = GreyBytes(first, copies[0]);
    const TBitmap &grey2 = GreyBytes(second, copies[1]);
    const TBitmap &grey3 = GreyBytes(third, copies[2]);

    TBitmap map;
    map.SetPixelFormat(pf24bit);
    map.SetSize(first.Width(), first.Height());
    const int width = map.Width();
    std::vector<std::uint8_t> strict(static_cast<std::size_t>(width));
    std::uint8_t running = 0;
    for (int y = 0; y < map.Height(); ++y) {
        StrictClassRow(grey1.ScanLine(y), grey2.ScanLine(y), grey3.ScanLine(y), strict.data(), width);
        std::uint8_t *out = map.ScanLine(y);
        // Each pixel gets its strict class, or on a tie the class of the pixel before it.
        for (int x = 0; x < width; ++x) {
            running = strict[x] != 0 ? strict[x] : running;
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = running;
        }
    }
    return map;
}
