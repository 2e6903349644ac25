// Edge strength map: how sharply each pixel differs from its right-hand and lower
// neighbours. The sharper a picture is focused at a place, the larger the map there.
#pragma once

#include "bitmap.h"

// Turns bitmap, in place, into its edge strength map: pf8bit, the same size, each byte
// min(255, |p - right| + |p - below|) over the grey bytes of the pf8bit conversion.
// A neighbour outside the picture counts as equal to the pixel, so the last column holds
// |p - below|, the last row |p - right| and the bottom-right pixel 0.
void ComputeEdgeStrengthMap(TBitmap &bitmap);

// Sets to 0 each byte of edgeMap (pf8bit) within one pixel of a pixel that coverage (pf8bit,
// the same size) marks with 0: where a moved picture does not cover the scene, or meets what
// was filled in there, it shows no edge of its own.
void ClearUncoveredEdges(TBitmap &edgeMap, const TBitmap &coverage);
