#include "alignment.h"
#include "test_bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace {

using Reason = RegistrationError::Reason;

// A move as the aligner reports it: scale, clockwise rotation and shift of the frame's centre.
struct Move {
    double scale = 1, degrees = 0, shiftX = 0, shiftY = 0;
};

// Reference pixel -> shot pixel in a width x height frame.
std::array<double, 6> MatrixOf(const Move &move, int width, int height)
{
    const double angle = move.degrees * std::numbers::pi / 180;
    const double a = move.scale * std::cos(angle), b = move.scale * std::sin(angle);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    return {a, -b, cx + move.shiftX - a * cx + b * cy, b, a, cy + move.shiftY - b * cx - a * cy};
}

// A scene defined everywhere: coloured Gaussian blobs of radius 1.5 to 8 pixels on grey, reaching
// half a frame beyond each side. Its shots are drawn exactly under any similarity and Gaussian
// blur, so a test knows the true move to far below a pixel.
struct Blob {
    double x, y, radius;
    std::array<double, 3> colour;
};
using Scene = std::vector<Blob>;

Scene MakeScene(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    const auto uniform = [&](double low, double high) { return low + (high - low) * (random() / 4294967296.0); };
    Scene blobs(static_cast<std::size_t>(width * height / 40));
    for (Blob &blob : blobs)
        blob = {uniform(-0.5, 1.5) * width, uniform(-0.5, 1.5) * height, uniform(1.5, 8),
                {uniform(-90, 90), uniform(-90, 90), uniform(-90, 90)}};
    return blobs;
}

// The sigma of a shot's blur at a point x of the reference (0 to 1 across it).
using Blur = double (*)(double x);
double Sharp(double) { return 0; }

// A width x height pf24bit shot of the scene under move, each blob blurred by blur at its centre.
TBitmap Shoot(const Scene &scene, int width, int height, const Move &move = {}, Blur blur = Sharp)
{
    const std::array<double, 6> m = MatrixOf(move, width, height);
    std::vector<std::array<double, 3>> sum(static_cast<std::size_t>(width * height), {128, 128, 128});
    for (const Blob &blob : scene) {
        const double sigma = blur(blob.x / width), spread = blob.radius * blob.radius + sigma * sigma;
        const double weight = blob.radius * blob.radius / spread, radius = move.scale * std::sqrt(spread);
        const double cx = m[0] * blob.x + m[1] * blob.y + m[2], cy = m[3] * blob.x + m[4] * blob.y + m[5];
        for (int y = std::max(0, int(cy - 4 * radius)); y < std::min(height, int(cy + 4 * radius) + 1); ++y)
            for (int x = std::max(0, int(cx - 4 * radius)); x < std::min(width, int(cx + 4 * radius) + 1); ++x) {
                const double squared = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const double g = weight * std::exp(-squared / (2 * radius * radius));
                for (int c = 0; c < 3; ++c)
                    sum[static_cast<std::size_t>(y * width + x)][c] += g * blob.colour[c];
            }
    }
    TBitmap shot;
    shot.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = shot.ScanLine(y);
        for (int x = 0; x < 3 * width; ++x)
            row[x] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[y * width + x / 3][x % 3]), 0L, 255L));
    }
    return shot;
}

TBitmap InFormat(TBitmap bitmap, TPixelFormat format)
{
    bitmap.SetPixelFormat(format);
    return bitmap;
}

// The mean over the four frame corners of the distance between where found and truth put them.
double CornerError(const ShotTransform &found, const Move &truth, int width, int height)
{
    const std::array<double, 6> t = MatrixOf(truth, width, height);
    const std::array<double, 6> &f = found.matrix;
    double sum = 0;
    for (double x : {0, width - 1})
        for (double y : {0, height - 1})
            sum += std::hypot((f[0] - t[0]) * x + (f[1] - t[1]) * y + f[2] - t[2],
                              (f[3] - t[3]) * x + (f[4] - t[4]) * y + f[5] - t[5]);
    return sum / 4;
}

// The method errs by 0.01 to 0.14 pixels on these small sharp pictures (several scenes tried); a
// fault in a level's scale, in chaining or in the reported figures costs half a pixel or more.
constexpr double CornerTolerance = 0.25;

} // namespace

TEST(Alignment, KnownMovesAreFoundAndReported)
{
    struct Case {
        const char *what;
        int width, height;
        Move move;
        Blur referenceBlur, shotBlur;
    };
    const std::vector<Case> cases = {
        {"shift", 192, 144, {1, 0, 3.3, -2.7}, Sharp, Sharp},
        {"rotation", 192, 144, {1, 0.8, 0, 0}, Sharp, Sharp},
        {"scale", 192, 144, {1.03, 0, 0, 0}, Sharp, Sharp},
        {"all three", 192, 144, {0.97, -0.6, -2.2, 1.9}, Sharp, Sharp},
        {"refined two levels below the coarsest", 720, 540, {1.02, 0.7, 9.5, -6.25}, Sharp, Sharp},
        // A fifth of the side, near the quarter allowed: found on the coarsest level, where a
        // shift scaled wrongly between levels leaves the refinement far outside its reach.
        {"a shift near the limit, from the coarsest level", 720, 540, {1, 0.2, 160.5, -110.25}, Sharp, Sharp},
        {"each blurred where the other is sharp", 256, 192, {1.02, -0.4, 4.1, 2.2},
         [](double x) { return 3 * (1 - x); }, [](double x) { return 3 * x; }},
    };
    for (const Case &c : cases) {
        const Scene scene = MakeScene(c.width, c.height, 7);
        StackAligner aligner(Shoot(scene, c.width, c.height, {}, c.referenceBlur));
        const ShotTransform found = aligner.Align(Shoot(scene, c.width, c.height, c.move, c.shotBlur)).transform;
        EXPECT_LT(CornerError(found, c.move, c.width, c.height), CornerTolerance) << c.what;
        // Over the half diagonal of 120 pixels, 0.002 of scale and 0.1 degrees are 0.24 and 0.21 pixels.
        EXPECT_NEAR(found.Scale(), c.move.scale, 0.002) << c.what;
        EXPECT_NEAR(found.RotationDegrees(), c.move.degrees, 0.1) << c.what;
        EXPECT_NEAR(found.ShiftX(), c.move.shiftX, CornerTolerance) << c.what;
        EXPECT_NEAR(found.ShiftY(), c.move.shiftY, CornerTolerance) << c.what;
    }
}

TEST(Alignment, TheMoveFoundPutsTheShotIntoTheFrameAgainByteForByte)
{
    const Scene scene = MakeScene(192, 144, 4);
    const TBitmap reference = Shoot(scene, 192, 144), shot = Shoot(scene, 192, 144, {1.01, 0.4, 6.5, -3.25});
    const AlignedShot aligned = StackAligner(reference).Align(shot);
    const AlignedShot again = MoveIntoFrame(shot, aligned.transform, reference);
    EXPECT_EQ(Bytes(again.picture), Bytes(aligned.picture));
    EXPECT_EQ(Bytes(again.coverage), Bytes(aligned.coverage));
}

TEST(Alignment, TheReferenceAgainGivesBackItsBytes)
{
    const TBitmap colour = Shoot(MakeScene(96, 64, 3), 96, 64);
    for (const TBitmap &picture : {colour, InFormat(colour, pf8bit)}) {
        StackAligner aligner(picture);
        const AlignedShot shot = aligner.Align(picture);
        EXPECT_TRUE(shot.transform.IsIdentity());
        EXPECT_EQ(shot.picture.PixelFormat(), picture.PixelFormat());
        EXPECT_EQ(Bytes(shot.picture), Bytes(picture));
        EXPECT_EQ(Bytes(shot.coverage), std::vector<std::uint8_t>(96 * 64, 255));
    }
}

TEST(Alignment, PartialOverlapIsMaskedAndFilledFromTheReferenceOrRefusedBelowTheLimit)
{
    const int width = 192, height = 144;
    const Scene scene = MakeScene(width, height, 5);
    const TBitmap reference = Shoot(scene, width, height);
    // The reference's pixel x is at x + 38.5 in the shot: columns 0 to 152 and rows 0 to 114 covered.
    for (TPixelFormat format : {pf24bit, pf8bit}) {
        StackAligner aligner(reference);
        const AlignedShot shot = aligner.Align(InFormat(Shoot(scene, width, height, {1, 0, 38.5, 28.5}), format));
        const TBitmap fill = InFormat(reference, format);
        const int bytes = TBitmap::BytesPerPixel(format);
        ASSERT_EQ(shot.picture.PixelFormat(), format);
        long wrong = 0;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *mask = shot.coverage.ScanLine(y), *got = shot.picture.ScanLine(y);
            const std::uint8_t *want = fill.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                const bool covered = x <= 152 && y <= 114;
                wrong += mask[x] != (covered ? 255 : 0);
                // Covered pixels show the reference's scene point; the others are the reference's own.
                for (int i = bytes * x; i < bytes * (x + 1); ++i)
                    wrong += std::abs(got[i] - want[i]) > (covered ? 12 : 0);
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_DOUBLE_EQ(shot.coveredFraction, 153.0 * 115 / (width * height));
    }
    try {
        StackAligner(reference).Align(Shoot(scene, width, height, {1, 0, 47.5, 35.5}));
        ADD_FAILURE() << "a shot covering 56 % of the reference was accepted";
    } catch (const RegistrationError &error) {
        EXPECT_EQ(error.Why(), Reason::SmallOverlap);
        EXPECT_EQ(error.Message(), "it does not overlap the first picture enough: 56 % of the first picture is "
                                   "covered, at least 60 % is needed");
    }
}

TEST(Alignment, ShotsThatCannotBeAlignedAreRefusedWithTheReason)
{
    const int width = 192, height = 144;
    const Scene scene = MakeScene(width, height, 5);
    TBitmap flat;
    flat.SetSize(width, height);
    const std::vector<Reason> noMatch = {Reason::NoMatch, Reason::PoorMatch, Reason::Implausible};
    const std::vector<std::pair<TBitmap, std::vector<Reason>>> cases = {
        {Shoot(MakeScene(width, height, 6), width, height), noMatch}, // another scene
        {flat, noMatch},
        {Shoot(scene, width, height, {1, 30, 0, 0}), noMatch},        // turned beyond any shake
        {Shoot(scene, width, height - 1), {Reason::Unfit}},
        {Shoot(scene, 31, 40), {Reason::Unfit}},
    };
    StackAligner aligner(Shoot(scene, width, height));
    for (const auto &[shot, reasons] : cases)
        try {
            aligner.Align(shot);
            ADD_FAILURE() << "a " << shot.Width() << " x " << shot.Height() << " shot was accepted";
        } catch (const RegistrationError &error) {
            EXPECT_NE(std::find(reasons.begin(), reasons.end(), error.Why()), reasons.end()) << error.Message();
        }
    EXPECT_THROW(StackAligner(Shoot(scene, 40, 31)), RegistrationError);
}

TEST(Alignment, EachShotIsChainedOntoTheLastOneAccepted)
{
    const int width = 192, height = 144;
    const Scene scene = MakeScene(width, height, 9);
    StackAligner aligner(Shoot(scene, width, height));
    const Move first{1.02, 0.3, 2.5, -1.5}, third{1.04, -0.2, -3.5, 2};
    EXPECT_LT(CornerError(aligner.Align(Shoot(scene, width, height, first)).transform, first, width, height),
              CornerTolerance);
    EXPECT_THROW(aligner.Align(Shoot(MakeScene(width, height, 10), width, height)), RegistrationError);
    EXPECT_LT(CornerError(aligner.Align(Shoot(scene, width, height, third)).transform, third, width, height),
              CornerTolerance);
}

// From the third shot on, the chained move is averaged with one refined against the reference;
// refined at full size and one level below it, every shot must stay on its true move.
TEST(Alignment, EveryShotOfALongerStackIsFoundAtEachRefinementLevel)
{
    const std::vector<Move> moves = {{1.02, 0.3, 2.5, -1.5}, {0.98, -0.5, -3, 2}, {1.03, 0.6, 4, 3.5}};
    for (const auto &[width, height] : {std::pair{192, 144}, std::pair{720, 540}}) {
        const Scene scene = MakeScene(width, height, 11);
        StackAligner aligner(Shoot(scene, width, height));
        for (const Move &move : moves)
            EXPECT_LT(CornerError(aligner.Align(Shoot(scene, width, height, move)).transform, move, width, height),
                      CornerTolerance)
                << width << " x " << height << ", scale " << move.scale;
    }
}
