// Alignment of a focus stack: each shot from the second on is registered onto the first (the
// reference) and resampled into the reference's frame, so that every later step compares the same
// point of the scene at each pixel despite camera shake and focus breathing. The estimate is not
// pulled by the shots' blur differences: each shot is sharp somewhere else.
#pragma once

#include "bitmap.h"
#include "exception.h"

#include <array>
#include <memory>
#include <string>

// Where a shot shows the reference's pixels: the reference's pixel (x, y) appears at the shot's
//   xs = matrix[0] x + matrix[1] y + matrix[2],   ys = matrix[3] x + matrix[4] y + matrix[5],
// pixel centres at whole coordinates, y pointing down. Always a similarity (scale, rotation,
// shift). The reported figures describe the same move about the reference frame's centre c:
//   (xs, ys) - c = Scale() * Rotation(RotationDegrees()) * ((x, y) - c) + (ShiftX(), ShiftY()).
struct ShotTransform {
    std::array<double, 6> matrix{1, 0, 0, 0, 1, 0};
    double centreX = 0; // of the reference frame: (width - 1) / 2
    double centreY = 0; // (height - 1) / 2

    // How many times larger the scene looks in the shot than in the reference.
    double Scale() const;
    // How far the scene is turned in the shot, in degrees; positive is clockwise on screen.
    double RotationDegrees() const;
    // Where the reference's centre lies in the shot, less the centre, in pixels.
    double ShiftX() const;
    double ShiftY() const;
    bool IsIdentity() const { return matrix == std::array<double, 6>{1, 0, 0, 0, 1, 0}; }
};

// "shift +3.00, -2.00 pixels, rotation +0.000 degrees, scale 1.0000": how every front end gives a move.
std::string MoveText(const ShotTransform &move);

// A shot put into the reference's frame.
struct AlignedShot {
    // The reference's size in the shot's pixel format, resampled bicubically from the shot; pixels
    // the shot does not cover hold the reference's own pixel (in the shot's format), so that no
    // black frame makes false edges. The shot's own bytes when the transform is the identity.
    TBitmap picture;
    // pf8bit, the reference's size: 255 where the shot covers the pixel (the point it shows lies
    // within the shot's outermost pixel centres), 0 where it does not.
    TBitmap coverage;
    ShotTransform transform;
    double matchQuality = 0;    // correlation with the picture before it after common blur, up to 1
    double coveredFraction = 0; // of the reference's pixels, 0 to 1
};

// A shot that cannot be aligned. The message gives the reason in a user's words and the figures
// behind it, without the file name, which the front end puts in front.
class RegistrationError : public Exception {
public:
    enum class Reason {
        Unfit,        // empty, smaller than MinimumSide, another size than the reference
        NoMatch,      // the transform search did not converge
        PoorMatch,    // match quality below MinimumMatchQuality
        Implausible,  // a move no camera shake or focus breathing makes (scale, rotation, shift, distortion)
        SmallOverlap, // covers less than MinimumCoveredFraction of the reference
    };
    RegistrationError(Reason reason, std::string message) : Exception(std::move(message)), reason_(reason) {}
    Reason Why() const noexcept { return reason_; }

private:
    Reason reason_;
};

// Aligns the shots of one stack, in the order given, onto the reference it was made with. Each
// shot is registered onto the shot accepted before it (neighbours are focused alike, so their
// blur differs least) and the moves are composed; from the third shot on, the composed move is
// averaged with the move refined from it directly against the reference, so that the chain's
// errors do not add up. Only the reference's and that shot's pyramids are kept, so memory does
// not grow with the number of shots.
//
// Refused, with a RegistrationError: a shot whose transform search does not converge, whose match
// quality with the shot before it is below MinimumMatchQuality, whose move against the reference
// or the shot before it leaves 1 / MaximumScale .. MaximumScale, turns by more than
// MaximumRotationDegrees or shifts the frame's centre by more than MaximumShiftFraction of the
// side, whose affine estimate is stretched or sheared by more than MaximumDistortion, or which
// covers less than MinimumCoveredFraction of the reference.
class StackAligner {
public:
    static constexpr int MinimumSide = 32;
    static constexpr double MinimumMatchQuality = 0.90;
    static constexpr double MaximumScale = 1.25;
    static constexpr double MaximumRotationDegrees = 10;
    static constexpr double MaximumShiftFraction = 0.25;
    static constexpr double MaximumDistortion = 0.05;
    static constexpr double MinimumCoveredFraction = 0.60;

    // Keeps a copy of the reference (pf8bit, pf24bit or pf48bit, at least MinimumSide pixels each way;
    // otherwise a RegistrationError) and its grey pyramid.
    explicit StackAligner(const TBitmap &reference);
    ~StackAligner();
    StackAligner(StackAligner &&) noexcept;
    StackAligner &operator=(StackAligner &&) noexcept;

    // The shot (pf8bit, pf24bit or pf48bit, the reference's size) in the reference's frame. A refused shot
    // raises a RegistrationError and leaves the aligner as it was: the next shot is registered onto
    // the last one accepted.
    AlignedShot Align(const TBitmap &shot);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The shot (the reference's size and the shot's own format) moved into the reference's frame by
// a transform Align found for it: the very picture and coverage Align gave, so that a shot can be
// shown or painted from again without being kept or registered again.
AlignedShot MoveIntoFrame(const TBitmap &shot, const ShotTransform &transform, const TBitmap &reference);
