#include "fusion_job.h"

#include "retouch.h"

#include <algorithm>
#include <filesystem>

namespace {

// The strokes of shots that were fused; the others are told in notes.
std::vector<BrushStroke> StrokesOfFusedShots(const StackResult &fusion, const std::vector<BrushStroke> &strokes,
                                             std::vector<std::string> &notes)
{
    std::vector<BrushStroke> kept;
    for (const BrushStroke &stroke : strokes) {
        const bool fused = stroke.shot >= 0 && stroke.shot < static_cast<int>(fusion.shots.size())
                           && fusion.shots[static_cast<std::size_t>(stroke.shot)].state == ShotState::Fused;
        if (fused)
            kept.push_back(stroke);
    }
    if (kept.size() < strokes.size())
        notes.push_back(std::to_string(strokes.size() - kept.size())
                        + " stroke(s) of the retouching paint from shots that were left out, and are not shown.");
    return kept;
}

} // namespace

FusionOutcome FuseAndRetouch(const std::vector<std::string> &files, const StackOptions &options,
                             const std::vector<BrushStroke> &strokes, StackObserver &observer, std::stop_token stop)
{
    FusionOutcome outcome;
    outcome.base = FuseStack(files, options, observer, stop);
    outcome.notes = outcome.base.warnings;
    StackResult retouched = outcome.base;
    outcome.strokes = StrokesOfFusedShots(outcome.base, strokes, outcome.notes);
    ApplyRetouch(retouched, outcome.strokes);
    if (stop.stop_requested())
        throw FusionCancelled();
    outcome.picture = std::move(retouched.fused);
    outcome.sources = std::move(retouched.sourceMap);
    outcome.pictureView = DisplayPicture::FromBitmap(outcome.picture.Bitmap());
    return outcome;
}

QImage Thumbnail(const TBitmap &shot, int side)
{
    const int longSide = std::max(shot.Width(), shot.Height());
    if (longSide == 0)
        return {};
    // Every step-th pixel of every step-th row, which is quick on tens of megapixels, smoothed
    // down from twice the size.
    const int step = std::max(1, longSide / (2 * side));
    const int width = std::max(1, shot.Width() / step), height = std::max(1, shot.Height() / step);
    const int bytes = TBitmap::BytesPerPixel(shot.PixelFormat());
    QImage sample(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = shot.ScanLine(y * step);
        auto *out = reinterpret_cast<QRgb *>(sample.scanLine(y));
        // Each sample pixel gets the colour of its shot pixel (the high byte of a 16-bit channel).
        for (int x = 0; x < width; ++x) {
            const std::uint8_t *p = row + static_cast<std::size_t>(x) * step * bytes;
            out[x] = bytes == 1 ? qRgb(p[0], p[0], p[0]) : bytes == 3 ? qRgb(p[2], p[1], p[0]) : qRgb(p[5], p[3], p[1]);
        }
    }
    return sample.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
