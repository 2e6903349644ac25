// The most shots one stack holds, for every part that numbers them: a shot's index in a fold,
// its class in a dominance map and its number in a source map must each fit a byte.
#pragma once

constexpr int MaxShots = 255;
