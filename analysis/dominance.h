// Dominance map: at each pixel, which of three edge strength maps is strictly the
// largest (class 1, 2 or 3). Where no map is strictly the largest, the pixel repeats
// the class of the pixel before it in scan order, so flat areas take their neighbours'.
#pragma once

#include "bitmap.h"

// Returns a pf24bit map of first's size whose pixels hold their class in all three bytes.
// The sources are compared on their pf8bit bytes and left unchanged. The running class
// starts at 0 (no class) and runs on from the end of one row into the next. A second or
// third source narrower or shorter than the first raises an Exception before anything is
// built; of a larger one only the top-left part is compared.
TBitmap ComputeDominanceMap(const TBitmap &first, const TBitmap &second, const TBitmap &third);
