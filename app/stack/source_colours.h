// The colours of the source map: shot 1 to N along a ramp from dark blue through green to yellow,
// so that the map reads as a depth map of the scene (near shots one end, far shots the other).
#pragma once

#include <QRgb>

#include <vector>

// Entry k (1 to shots) is shot k's colour; entry 0, which no pixel holds, is black.
std::vector<QRgb> SourceColours(int shots);
