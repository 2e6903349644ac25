#include "shot_frames.h"

#include "exception.h"

ShotFrames::ShotFrames(const StackResult &result)
    : shots_(result.shots), reference_(result.reference), format_(result.fused.Bitmap().PixelFormat()),
      width_(result.fused.Bitmap().Width()), height_(result.fused.Bitmap().Height())
{
}

TBitmap ShotFrames::Shot(int index, TBitmap *coverage)
{
    const ShotReport &shot = shots_.at(static_cast<std::size_t>(index));
    if (shot.state != ShotState::Fused)
        throw Exception(shot.file + " was not fused: " + shot.reason + ".");
    TBitmap picture = Read(index);
    if (!shot.move)
        return picture;
    if (referencePicture_.Empty())
        referencePicture_ = Read(reference_);
    AlignedShot moved = MoveIntoFrame(picture, *shot.move, referencePicture_);
    if (coverage != nullptr)
        *coverage = std::move(moved.coverage);
    return std::move(moved.picture);
}

// The shot as the fusion read it: at the fused picture's depth and format, cut to its size.
TBitmap ShotFrames::Read(int index) const
{
    TPicture picture;
    picture.LoadFromFile(shots_[index].file,
                         format_ == pf48bit ? PictureDepth::KeepSixteenBits : PictureDepth::EightBits);
    TBitmap &bitmap = picture.Bitmap();
    if (bitmap.Width() < width_ || bitmap.Height() < height_)
        throw Exception("Cannot use " + shots_[index].file + " again: it is now " + SizeText(bitmap)
                        + ", smaller than the fused picture (" + SizeText(width_, height_) + ").");
    bitmap.SetPixelFormat(format_);
    bitmap.SetSize(width_, height_);
    return std::move(bitmap);
}
