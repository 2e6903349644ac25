#include "source_colours.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// A perceptually even ramp, dark blue to yellow, at nine evenly spaced points.
constexpr std::array<std::array<int, 3>, 9> Ramp = {{{68, 1, 84},
                                                     {71, 44, 122},
                                                     {59, 81, 139},
                                                     {44, 113, 142},
                                                     {33, 144, 141},
                                                     {39, 173, 129},
                                                     {92, 200, 99},
                                                     {170, 220, 50},
                                                     {253, 231, 37}}};

// The ramp's colour at t, 0 to 1, between its two nearest points.
QRgb RampAt(double t)
{
    const double at = std::clamp(t, 0.0, 1.0) * (Ramp.size() - 1);
    const std::size_t low = std::min(static_cast<std::size_t>(at), Ramp.size() - 2);
    const double f = at - static_cast<double>(low);
    int channel[3];
    for (int c = 0; c < 3; ++c)
        channel[c] = static_cast<int>(std::lround(Ramp[low][c] * (1 - f) + Ramp[low + 1][c] * f));
    return qRgb(channel[0], channel[1], channel[2]);
}

} // namespace

std::vector<QRgb> SourceColours(int shots)
{
    std::vector<QRgb> colours(static_cast<std::size_t>(shots) + 1, qRgb(0, 0, 0));
    for (int k = 1; k <= shots; ++k)
        colours[k] = RampAt(shots > 1 ? (k - 1) / static_cast<double>(shots - 1) : 0.5);
    return colours;
}
