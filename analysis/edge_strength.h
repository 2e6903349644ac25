// Edge strength map: how sharply each pixel differs from its right-hand and lower
// neighbours. The sharper a picture is focused at a place, the larger the map there.
#pragma once

#include "bitmap.h"

// Turns bitmap, in place, into its edge strength map: pf8bit, the same size, each byte
// min(255, |p - right| + |p - below|) over the grey bytes of the pf8bit conversion.
// A neighbour outside the picture counts as equal to the pixel, so the last column holds
// |p - below|, the last row |p - right| and the bottom-right pixel 0.
void ComputeEdgeStrengthMap(TBitmap &bitmap);
