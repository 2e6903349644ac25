#include "similarity.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

std::array<cv::Vec2d, 4> Corners(int width, int height)
{
    const double right = width - 1, bottom = height - 1;
    return {cv::Vec2d(0, 0), cv::Vec2d(right, 0), cv::Vec2d(0, bottom), cv::Vec2d(right, bottom)};
}

cv::Vec2d Apply(const cv::Matx23d &move, const cv::Vec2d &point) { return move * cv::Vec3d(point[0], point[1], 1); }

} // namespace

cv::Matx23d NearestSimilarity(const cv::Matx23d &affine, int width, int height)
{
    // A similarity is x' = a x - b y + tx, y' = b x + a y + ty: two equations per corner in a, b, tx, ty.
    std::array<double, 32> equations{};
    std::array<double, 8> moved{};
    double *equation = equations.data();
    double *value = moved.data();
    for (const cv::Vec2d &corner : Corners(width, height)) {
        const cv::Vec2d to = Apply(affine, corner);
        const std::array<double, 8> pair = {corner[0], -corner[1], 1, 0, corner[1], corner[0], 0, 1};
        equation = std::copy(pair.begin(), pair.end(), equation);
        *value++ = to[0];
        *value++ = to[1];
    }
    const cv::Matx<double, 4, 1> p =
        cv::Matx<double, 8, 4>(equations.data()).solve(cv::Matx<double, 8, 1>(moved.data()), cv::DECOMP_SVD);
    return {p(0), -p(1), p(2), p(1), p(0), p(3)};
}

cv::Matx23d Compose(const cv::Matx23d &first, const cv::Matx23d &second)
{
    const cv::Matx33d a(first(0, 0), first(0, 1), first(0, 2), first(1, 0), first(1, 1), first(1, 2), 0, 0, 1);
    return second * a;
}

double LargestCornerShift(const cv::Matx23d &move, int width, int height)
{
    double largest = 0;
    for (const cv::Vec2d &corner : Corners(width, height))
        largest = std::max(largest, cv::norm(Apply(move, corner) - corner));
    return largest;
}

double Distortion(const cv::Matx23d &move)
{
    const double a = move(0, 0), b = move(0, 1), c = move(1, 0), d = move(1, 1);
    const double alongX = std::hypot(a, c), alongY = std::hypot(b, d);
    return std::max(std::abs(alongX / alongY - 1), std::abs(a * b + c * d) / (alongX * alongY));
}

ShotTransform ToShotTransform(const cv::Matx23d &move, int width, int height)
{
    ShotTransform transform;
    transform.matrix = {move(0, 0), move(0, 1), move(0, 2), move(1, 0), move(1, 1), move(1, 2)};
    transform.centreX = (width - 1) / 2.0;
    transform.centreY = (height - 1) / 2.0;
    return transform;
}
