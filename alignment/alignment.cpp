#include "alignment.h"

#include "pair_registration.h"
#include "raster_views.h"
#include "similarity.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <new>
#include <numbers>
#include <string>

double ShotTransform::Scale() const { return std::sqrt(std::abs(matrix[0] * matrix[4] - matrix[1] * matrix[3])); }

double ShotTransform::RotationDegrees() const
{
    return std::atan2(matrix[3] - matrix[1], matrix[0] + matrix[4]) * 180 / std::numbers::pi;
}

double ShotTransform::ShiftX() const { return matrix[0] * centreX + matrix[1] * centreY + matrix[2] - centreX; }

double ShotTransform::ShiftY() const { return matrix[3] * centreX + matrix[4] * centreY + matrix[5] - centreY; }

std::string MoveText(const ShotTransform &move)
{
    char text[96];
    std::snprintf(text, sizeof text, "shift %+.2f, %+.2f pixels, rotation %+.3f degrees, scale %.4f", move.ShiftX(),
                  move.ShiftY(), move.RotationDegrees(), move.Scale());
    return text;
}

namespace {

using Reason = RegistrationError::Reason;

constexpr double IdentityTolerance = 1e-3; // pixels: a move this small at every corner is no move
constexpr double CoverageTolerance = 1e-3; // pixels beyond the outermost pixel centres still covered
constexpr double DirectAgreement = 1.0;    // pixels at a corner between the chained and the direct estimate
const cv::Matx23d Identity(1, 0, 0, 0, 1, 0);

std::string Figure(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Refuses a picture the aligner cannot work on, whatever it shows.
void CheckAlignable(const TBitmap &picture)
{
    if (picture.Width() < StackAligner::MinimumSide || picture.Height() < StackAligner::MinimumSide)
        throw RegistrationError(Reason::Unfit, "it is " + SizeText(picture) + ", too small to align: at least "
                                                   + std::to_string(StackAligner::MinimumSide)
                                                   + " pixels each way are needed");
}

// Refuses a move that neither camera shake nor focus breathing makes; against names the picture
// the move is measured from.
void CheckPlausible(const cv::Matx23d &move, int width, int height, const std::string &against)
{
    const ShotTransform transform = ToShotTransform(move, width, height);
    const double scale = transform.Scale();
    const double rotation = transform.RotationDegrees();
    const double shiftX = transform.ShiftX(), shiftY = transform.ShiftY();
    const std::string anotherScene = ": it may show another scene";
    if (scale < 1 / StackAligner::MaximumScale || scale > StackAligner::MaximumScale)
        throw RegistrationError(Reason::Implausible, "it is scaled by " + Figure(scale, 3) + " against " + against
                                                         + ", beyond the " + Figure(1 / StackAligner::MaximumScale, 2)
                                                         + " to " + Figure(StackAligner::MaximumScale, 2)
                                                         + " that focus breathing causes" + anotherScene);
    if (std::abs(rotation) > StackAligner::MaximumRotationDegrees)
        throw RegistrationError(Reason::Implausible, "it is turned by " + Figure(rotation, 1) + " degrees against "
                                                         + against + ", more than the "
                                                         + Figure(StackAligner::MaximumRotationDegrees, 0)
                                                         + " degrees camera shake causes" + anotherScene);
    if (std::abs(shiftX) > StackAligner::MaximumShiftFraction * width
        || std::abs(shiftY) > StackAligner::MaximumShiftFraction * height)
        throw RegistrationError(Reason::Implausible, "its centre is shifted by " + Figure(shiftX, 0) + ", "
                                                         + Figure(shiftY, 0) + " pixels against " + against
                                                         + ", more than "
                                                         + Figure(100 * StackAligner::MaximumShiftFraction, 0)
                                                         + " % of the width or height" + anotherScene);
}

// Refuses a pair that matches poorly or whose affine estimate is not a camera's move; before names
// the picture the shot was matched with.
void CheckPair(const PairMatch &pair, int width, int height, const std::string &before)
{
    if (pair.quality < StackAligner::MinimumMatchQuality)
        throw RegistrationError(Reason::PoorMatch, "no transform matches it well enough (best match quality "
                                                       + Figure(pair.quality, 2) + ", at least "
                                                       + Figure(StackAligner::MinimumMatchQuality, 2)
                                                       + " needed): it may show another scene");
    if (const double distortion = Distortion(pair.affine); distortion > StackAligner::MaximumDistortion)
        throw RegistrationError(Reason::Implausible, "it is stretched or sheared by " + Figure(distortion, 3)
                                                         + " against " + before + ", more than the "
                                                         + Figure(StackAligner::MaximumDistortion, 2)
                                                         + " camera shake and focus breathing cause: it may show "
                                                           "another scene");
    CheckPlausible(pair.affine, width, height, before);
}

// The chained move averaged with the move refined from it directly against the reference. The
// chain's errors add up from shot to shot; the direct estimate does not drift but meets the larger
// blur difference to the reference; as they err independently, their mean errs less than either.
// A direct estimate that does not converge, or strays more than DirectAgreement pixels at a corner
// from the chained one, is left out.
cv::Matx23d AveragedWithDirect(const cv::Matx23d &chained, const GreyPyramid &reference, const GreyPyramid &shot,
                               PyramidLevels levels, int width, int height)
{
    cv::Matx23d direct;
    try {
        direct = NearestSimilarity(RefinePair(reference, shot, levels, chained).affine, width, height);
    } catch (const cv::Exception &error) {
        if (error.code != cv::Error::StsNoConv)
            throw;
        return chained;
    }
    if (LargestCornerShift(Identity + direct - chained, width, height) > DirectAgreement)
        return chained;
    return (chained + direct) * 0.5;
}

// The pair's affine move, or a refusal when no estimate converges.
PairMatch MatchOrRefuse(const GreyPyramid &target, const GreyPyramid &shot, PyramidLevels levels)
{
    try {
        return MatchPair(target, shot, levels);
    } catch (const cv::Exception &error) {
        if (error.code != cv::Error::StsNoConv)
            throw;
        throw RegistrationError(Reason::NoMatch, "no transform matches it (the search for one did not converge)"
                                                 ": it may show another scene or too little of the same one");
    }
}

// pf8bit, width x height: 255 where the shot point move gives for the pixel lies within the
// shot's outermost pixel centres (the shot has the same size), 0 elsewhere.
TBitmap CoverageMask(const cv::Matx23d &move, int width, int height)
{
    TBitmap mask;
    mask.SetPixelFormat(pf8bit);
    mask.SetSize(width, height);
    const double low = -CoverageTolerance;
    const double right = width - 1 + CoverageTolerance, bottom = height - 1 + CoverageTolerance;
    // mask[x] = 255 when move(x, y) lies inside the shot, else 0
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = mask.ScanLine(y);
        const double rowX = move(0, 1) * y + move(0, 2), rowY = move(1, 1) * y + move(1, 2);
        for (int x = 0; x < width; ++x) {
            const double xs = move(0, 0) * x + rowX, ys = move(1, 0) * x + rowY;
            row[x] = xs >= low && xs <= right && ys >= low && ys <= bottom ? 255 : 0;
        }
    }
    return mask;
}

// The shot resampled bicubically into the reference's frame under move (reference pixel -> shot
// pixel); pixels the coverage leaves out take the reference's own pixel in the shot's format.
TBitmap Resample(const TBitmap &shot, const cv::Matx23d &move, const TBitmap &reference, const TBitmap &coverage)
{
    TBitmap picture;
    if (move == Identity) {
        picture.Assign(shot);
        return picture;
    }
    picture.SetPixelFormat(shot.PixelFormat());
    picture.SetSize(reference.Width(), reference.Height());
    cv::Mat pixels = MatOf(picture);
    // A replicated border keeps a covered pixel on the shot's outermost row or column from being
    // blended with a border colour.
    cv::warpAffine(MatOf(shot), pixels, cv::Mat(move), pixels.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP,
                   cv::BORDER_REPLICATE);
    TBitmap converted;
    if (reference.PixelFormat() != shot.PixelFormat()) {
        converted.Assign(reference);
        converted.SetPixelFormat(shot.PixelFormat());
    }
    const TBitmap &fill = converted.Empty() ? reference : converted;
    MatOf(fill).copyTo(pixels, MatOf(coverage) == 0);
    return picture;
}

// Runs work, turning OpenCV's report of running out of memory, which comes as every other
// failure of it does, into the std::bad_alloc the rest of edgedom raises.
template <class Work>
auto ReportingOutOfMemory(Work work)
{
    try {
        return work();
    } catch (const cv::Exception &error) {
        if (error.code == cv::Error::StsNoMem)
            throw std::bad_alloc();
        throw;
    }
}

} // namespace

struct StackAligner::State {
    TBitmap reference;
    PyramidLevels levels;
    GreyPyramid referencePyramid;
    GreyPyramid previous;                // of the shot accepted last, the reference before the first
    cv::Matx23d previousMove = Identity; // reference pixel -> that shot's pixel
    bool previousIsReference = true;

    AlignedShot Align(const TBitmap &shot);
};

StackAligner::StackAligner(const TBitmap &reference) : state_(std::make_unique<State>())
{
    CheckAlignable(reference);
    state_->reference.Assign(reference);
    state_->levels = ChooseLevels(reference.Width(), reference.Height());
    state_->referencePyramid = ReportingOutOfMemory([&] { return MakeGreyPyramid(reference, state_->levels); });
    state_->previous = state_->referencePyramid;
}

StackAligner::~StackAligner() = default;
StackAligner::StackAligner(StackAligner &&) noexcept = default;
StackAligner &StackAligner::operator=(StackAligner &&) noexcept = default;

AlignedShot StackAligner::Align(const TBitmap &shot)
{
    return ReportingOutOfMemory([&] { return state_->Align(shot); });
}

// Changes the state only once the shot is accepted.
AlignedShot StackAligner::State::Align(const TBitmap &shot)
{
    const int width = reference.Width(), height = reference.Height();
    CheckAlignable(shot);
    if (shot.Width() != width || shot.Height() != height)
        throw RegistrationError(Reason::Unfit, "it is " + SizeText(shot) + " and the first picture "
                                                   + SizeText(reference)
                                                   + ": the pictures of a stack must have one size");

    GreyPyramid pyramid = MakeGreyPyramid(shot, levels);
    const PairMatch pair = MatchOrRefuse(previous, pyramid, levels);
    CheckPair(pair, width, height, previousIsReference ? "the first picture" : "the picture before it");
    cv::Matx23d move = Compose(previousMove, NearestSimilarity(pair.affine, width, height));
    if (!previousIsReference)
        move = AveragedWithDirect(move, referencePyramid, pyramid, levels, width, height);
    CheckPlausible(move, width, height, "the first picture");
    if (LargestCornerShift(move, width, height) < IdentityTolerance)
        move = Identity;

    AlignedShot aligned;
    aligned.coverage = CoverageMask(move, width, height);
    aligned.coveredFraction = cv::countNonZero(MatOf(aligned.coverage)) / (static_cast<double>(width) * height);
    if (aligned.coveredFraction < MinimumCoveredFraction)
        throw RegistrationError(Reason::SmallOverlap, "it does not overlap the first picture enough: "
                                                          + Figure(100 * aligned.coveredFraction, 0)
                                                          + " % of the first picture is covered, at least "
                                                          + Figure(100 * MinimumCoveredFraction, 0) + " % is needed");
    aligned.picture = Resample(shot, move, reference, aligned.coverage);
    aligned.transform = ToShotTransform(move, width, height);
    aligned.matchQuality = pair.quality;

    previous = std::move(pyramid);
    previousMove = move;
    previousIsReference = false;
    return aligned;
}

AlignedShot MoveIntoFrame(const TBitmap &shot, const ShotTransform &transform, const TBitmap &reference)
{
    return ReportingOutOfMemory([&] {
        const std::array<double, 6> &m = transform.matrix;
        const cv::Matx23d move(m[0], m[1], m[2], m[3], m[4], m[5]);
        AlignedShot aligned;
        aligned.coverage = CoverageMask(move, reference.Width(), reference.Height());
        aligned.picture = Resample(shot, move, reference, aligned.coverage);
        aligned.transform = transform;
        return aligned;
    });
}
