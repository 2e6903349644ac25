// Registration of one shot onto another: an affine estimate found coarse to fine on grey pyramids,
// from a phase-correlation start on the coarsest level through every level to the refinement
// level, where the blur differences of the pair are evened out before the last estimate.
#pragma once

#include "bitmap.h"

#include <opencv2/core.hpp>

#include <vector>

// The pyramid levels a picture of this size is registered on: the coarse level is the first whose
// longer side is at most 200 pixels, the refinement level the finest of at most 0.35 megapixels
// (estimates finer than that cost much more and gain little).
struct PyramidLevels {
    int fine = 0;
    int coarse = 0;
};
PyramidLevels ChooseLevels(int width, int height);

// The grey levels (0..255, float) of picture halved level by level with a Gaussian (pyrDown, so
// that pixel x of level l is pixel 2^l x of the picture). Entry l is level l for fine <= l <=
// coarse; the finer entries are left empty.
using GreyPyramid = std::vector<cv::Mat>;
GreyPyramid MakeGreyPyramid(const TBitmap &picture, PyramidLevels levels);

struct PairMatch {
    cv::Matx23d affine;  // target pixel -> shot pixel, at full size
    double quality = 0;  // correlation of the pair at the refinement level after common blur
};

// The affine move from target to shot, two pyramids made with the same levels. Raises
// cv::Exception when an estimate does not converge (pictures unrelated or not overlapping).
PairMatch MatchPair(const GreyPyramid &target, const GreyPyramid &shot, PyramidLevels levels);

// The move from target to shot refined from start (an estimate close to it, at full size) by the
// last step of MatchPair alone, in one round of common blur: the start already puts the shot where
// the blurs are chosen. Raises cv::Exception when the estimate does not converge.
PairMatch RefinePair(const GreyPyramid &target, const GreyPyramid &shot, PyramidLevels levels,
                     const cv::Matx23d &start);
