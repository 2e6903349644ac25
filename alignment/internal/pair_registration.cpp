#include "pair_registration.h"

#include "common_blur.h"
#include "raster_views.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>

namespace {

constexpr int CoarseMaximumSide = 200;
constexpr double FineMaximumPixels = 0.35e6;
constexpr int CoarseIterations = 100; // from a translation only, the coarse estimate has far to go
constexpr int LevelIterations = 30;
constexpr double StepLimit = 1e-6;    // ECC stops when an iteration changes the correlation less
constexpr int EccPreBlur = 5;         // ECC's own Gaussian pre-blur, in pixels of the level

// Updates warp (2x3 CV_32F, target -> shot) by ECC on one pyramid level; returns the correlation.
double RunEcc(const cv::Mat &target, const cv::Mat &shot, cv::Mat &warp, int iterations)
{
    const cv::TermCriteria stop(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, iterations, StepLimit);
    return cv::findTransformECC(target, shot, warp, cv::MOTION_AFFINE, stop, cv::noArray(), EccPreBlur);
}

// Moves a warp from one pyramid level to another 2^levels times finer: pyrDown keeps the even
// pixels, so only the shift scales.
void ToFinerLevel(cv::Mat &warp, int levels) { warp.col(2) *= static_cast<float>(1 << levels); }

// The shift of shot against target on the coarse level by phase correlation, as a warp: a start
// inside the affine search's basin.
cv::Mat PhaseCorrelationStart(const cv::Mat &target, const cv::Mat &shot)
{
    cv::Mat window;
    cv::createHanningWindow(window, target.size(), CV_32F);
    // OpenCV 4.6 multiplies the window into its inputs in place when their size already suits its
    // DFT, which would spoil the pyramids kept for the next shot: it gets copies.
    const cv::Point2d shift = cv::phaseCorrelate(target.clone(), shot.clone(), window);
    cv::Mat warp = cv::Mat::eye(2, 3, CV_32F);
    warp.at<float>(0, 2) = static_cast<float>(shift.x);
    warp.at<float>(1, 2) = static_cast<float>(shift.y);
    return warp;
}

// The last estimates on the pair (one level, fine levels above full size) blurred to a common
// sharpness, in rounds: each round after the first chooses the blurs again where the estimate
// before it has moved the shot. warp comes in and is changed at that level; the match is at full
// size.
PairMatch RefineWithCommonBlur(const cv::Mat &target, const cv::Mat &shot, cv::Mat &warp, int fine, int rounds)
{
    const CommonBlur common(target, shot);
    PairMatch match;
    for (int round = 0; round < rounds; ++round) {
        cv::Mat equalTarget, equalShot;
        common.Equalise(warp, equalTarget, equalShot);
        match.quality = RunEcc(equalTarget, equalShot, warp, LevelIterations);
    }
    ToFinerLevel(warp, fine);
    match.affine = cv::Matx23d(warp);
    return match;
}

cv::Mat GreyFloat(const TBitmap &picture)
{
    const cv::Mat pixels = MatOf(picture);
    cv::Mat grey = pixels;
    if (pixels.channels() == 3)
        cv::cvtColor(pixels, grey, cv::COLOR_BGR2GRAY);
    cv::Mat greyFloat; // on the 8-bit scale, whatever the channels' depth
    grey.convertTo(greyFloat, CV_32F, grey.depth() == CV_16U ? 1.0 / 257 : 1.0);
    return greyFloat;
}

} // namespace

PyramidLevels ChooseLevels(int width, int height)
{
    PyramidLevels levels;
    while (std::max(width, height) >> levels.coarse > CoarseMaximumSide)
        ++levels.coarse;
    while (static_cast<double>(width >> levels.fine) * (height >> levels.fine) > FineMaximumPixels)
        ++levels.fine;
    levels.fine = std::min(levels.fine, levels.coarse);
    return levels;
}

GreyPyramid MakeGreyPyramid(const TBitmap &picture, PyramidLevels levels)
{
    GreyPyramid pyramid(static_cast<std::size_t>(levels.coarse) + 1);
    cv::Mat level = GreyFloat(picture);
    for (int l = 0; l <= levels.coarse; ++l) {
        if (l > 0) {
            cv::Mat halved;
            cv::pyrDown(level, halved);
            level = halved;
        }
        if (l >= levels.fine)
            pyramid[l] = level;
    }
    return pyramid;
}

PairMatch MatchPair(const GreyPyramid &target, const GreyPyramid &shot, PyramidLevels levels)
{
    const int coarse = levels.coarse;
    cv::Mat warp = PhaseCorrelationStart(target[coarse], shot[coarse]);
    RunEcc(target[coarse], shot[coarse], warp, CoarseIterations);
    // Every level in turn: a jump of several levels can lock a periodic texture onto the wrong period.
    for (int l = coarse - 1; l > levels.fine; --l) {
        ToFinerLevel(warp, 1);
        RunEcc(target[l], shot[l], warp, LevelIterations);
    }
    if (coarse > levels.fine)
        ToFinerLevel(warp, 1);
    return RefineWithCommonBlur(target[levels.fine], shot[levels.fine], warp, levels.fine, 2);
}

PairMatch RefinePair(const GreyPyramid &target, const GreyPyramid &shot, PyramidLevels levels,
                     const cv::Matx23d &start)
{
    cv::Mat warp;
    cv::Mat(start).convertTo(warp, CV_32F);
    warp.col(2) /= static_cast<float>(1 << levels.fine);
    return RefineWithCommonBlur(target[levels.fine], shot[levels.fine], warp, levels.fine, 1);
}
