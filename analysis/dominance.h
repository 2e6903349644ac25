// Dominance map: at each pixel, which of three edge strength maps is strictly the
// largest (class 1, 2 or 3). Where no map is strictly the largest, the pixel repeats
// the class of the pixel before it in scan order, so flat areas take their neighbours'.
#pragma once

#include "bitmap.h"

#include <cstdint>
#include <vector>

// Returns a pf24bit map of first's size whose pixels hold their class in all three bytes.
// The sources are compared on their pf8bit bytes and left unchanged. The running class
// starts at 0 (no class) and runs on from the end of one row into the next. A second or
// third source narrower or shorter than the first raises an Exception before anything is
// built; of a larger one only the top-left part is compared.
TBitmap ComputeDominanceMap(const TBitmap &first, const TBitmap &second, const TBitmap &third);

// The step that carries classes over ties, on one row of strict classes (1, 2 or 3 where a
// map is strictly the largest, 0 on a tie), in place: each 0 gets the class before it in the
// row, the first ones running, and the running class after the row is returned.
// CarryClassesOverTies is the vectorised form ComputeDominanceMap uses;
// CarryClassesOverTiesPlain is the plain scan it must equal, the reference for the tests.
std::uint8_t CarryClassesOverTies(std::uint8_t *strict, int width, std::uint8_t running);
std::uint8_t CarryClassesOverTiesPlain(std::uint8_t *strict, int width, std::uint8_t running);

// The dominance map of any number of edge maps, folded in one at a time: at each pixel the
// class is the index (1, 2, ...) of the map whose value is strictly the largest, ties carried
// as ComputeDominanceMap carries them, which it equals for three maps. Holds two bytes per
// pixel however many maps come.
class DominanceFold {
public:
    // A fold of maps of width x height pixels. Raises an Exception for a negative size.
    DominanceFold(int width, int height);

    // Folds in the top-left part of edgeMap (pf8bit, left unchanged) as map MapCount() + 1.
    // coverage, when given (pf8bit, at least as large), marks with a nonzero byte the pixels
    // the map's picture covers; it is taken as one run from its first to its last covered pixel
    // in each row, as for a moved picture. The map's value must be 0 where it does not cover,
    // so that it is never strictly the largest there, and a tie never carries its class there:
    // such a pixel takes class 1, the first map's, which covers every pixel. Raises an
    // Exception, before anything changes, for another format, a smaller map or a 256th map.
    void Add(const TBitmap &edgeMap, const TBitmap *coverage = nullptr);

    int MapCount() const noexcept { return maps_; }

    // pf24bit, width x height, each pixel's class in all three bytes (0 on a tie before any
    // strict pixel). Raises an Exception before any map was added.
    TBitmap Result() const;

private:
    // Whether map k covers pixel x of row y.
    bool Covers(int k, int x, int y) const;

    int width_, height_, maps_ = 0;
    std::vector<std::uint8_t> largest_, strict_; // per pixel: the largest value so far; its map, 0 on a tie
    // Per map with a coverage, its first and last covered column in each row; -1 for a map without.
    std::vector<int> coverageOf_;
    std::vector<std::pair<int, int>> coveredRuns_;
};
