// The geometry of moves between shots, as 2x3 matrices from one picture's pixel coordinates to
// another's: composing, the nearest similarity, and how far a move is stretched or sheared.
#pragma once

#include "alignment.h"

#include <opencv2/core.hpp>

// The similarity nearest to affine in the least-squares sense over the four corners of a
// width x height frame: the move without the stretch and shear blur differences leak into.
cv::Matx23d NearestSimilarity(const cv::Matx23d &affine, int width, int height);

// The move first then second: x -> second(first(x)).
cv::Matx23d Compose(const cv::Matx23d &first, const cv::Matx23d &second);

// The largest distance by which move displaces a corner of a width x height frame.
double LargestCornerShift(const cv::Matx23d &move, int width, int height);

// How far move is from a similarity: the larger of |aspect - 1| (lengths along x over those along
// y) and the shear (cosine of the angle the axes make).
double Distortion(const cv::Matx23d &move);

// The move as reported, about the centre of a width x height frame.
ShotTransform ToShotTransform(const cv::Matx23d &move, int width, int height);
