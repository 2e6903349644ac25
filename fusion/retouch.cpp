#include "retouch.h"

#include "exception.h"
#include "shot_frames.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

std::string Name(const std::string &file) { return std::filesystem::path(file).filename().string(); }

std::string WithoutFullStop(const std::string &reason)
{
    return reason.ends_with('.') ? reason.substr(0, reason.size() - 1) : reason;
}

// Refuses a stroke that cannot be painted from the shots of this result.
void RequirePaintable(const StackResult &result, const BrushStroke &stroke, std::size_t index)
{
    const std::string head = "Cannot apply retouching stroke " + std::to_string(index + 1) + ": ";
    const std::string fault = StrokeFault(stroke);
    if (!fault.empty())
        throw Exception(head + fault + ".");
    const int count = static_cast<int>(result.shots.size());
    const std::string paints = head + "it paints from shot " + std::to_string(stroke.shot + 1);
    if (stroke.shot < 0 || stroke.shot >= count)
        throw Exception(paints + ", but the stack has " + std::to_string(count) + " shots.");
    const ShotReport &shot = result.shots[static_cast<std::size_t>(stroke.shot)];
    const std::string why = shot.reason.empty() ? "" : ": " + WithoutFullStop(shot.reason);
    if (shot.state != ShotState::Fused)
        throw Exception(paints + " (" + Name(shot.file) + "), which was left out of the fusion" + why
                        + ". Take the shot into the stack again, or remove the stroke.");
}

// The union of the strokes' bounds: where the later-stroke ranks are kept.
PixelRect BoundsOf(const std::vector<BrushStroke> &strokes, int width, int height)
{
    PixelRect all;
    for (const BrushStroke &stroke : strokes) {
        const PixelRect box = StrokeBounds(stroke, width, height);
        if (box.Empty())
            continue;
        all = all.Empty() ? box
                          : PixelRect{std::min(all.left, box.left), std::min(all.top, box.top),
                                      std::max(all.right, box.right), std::max(all.bottom, box.bottom)};
    }
    return all;
}

// The strokes painted one shot at a time into copies of the fused picture and source map. Each
// pixel remembers the rank of the stroke that painted it last, so that whichever order the shots
// come in, the latest stroke that paints a pixel decides it.
class Retouch {
public:
    Retouch(const StackResult &result, const std::vector<BrushStroke> &strokes)
        : strokes_(strokes), picture_(result.fused.Bitmap()), sources_(result.sourceMap),
          area_(BoundsOf(strokes, picture_.Width(), picture_.Height())),
          ranks_(static_cast<std::size_t>(area_.right - area_.left) * static_cast<std::size_t>(area_.bottom - area_.top), -1)
    {
    }

    // Paints every stroke of the shot: its pixels as the fusion folded them in, with its coverage.
    void PaintFrom(int shot, const TBitmap &pixels, const TBitmap &coverage)
    {
        for (std::size_t rank = 0; rank < strokes_.size(); ++rank)
            if (strokes_[rank].shot == shot)
                for (const PixelSpan &span : StrokeSpans(strokes_[rank], picture_.Width(), picture_.Height()))
                    PaintSpan(span, static_cast<int>(rank), pixels, coverage, static_cast<std::uint8_t>(shot + 1));
    }

    void Commit(StackResult &result)
    {
        result.fused.Bitmap() = std::move(picture_);
        result.sourceMap = std::move(sources_);
    }

private:
    void PaintSpan(const PixelSpan &span, int rank, const TBitmap &pixels, const TBitmap &coverage,
                   std::uint8_t number)
    {
        const int step = TBitmap::BytesPerPixel(picture_.PixelFormat());
        const std::uint8_t *from = pixels.ScanLine(span.y);
        const std::uint8_t *shown = coverage.Empty() ? nullptr : coverage.ScanLine(span.y);
        std::uint8_t *to = picture_.ScanLine(span.y), *source = sources_.Empty() ? nullptr : sources_.ScanLine(span.y);
        int *ranks = ranks_.data() + static_cast<std::size_t>(span.y - area_.top) * (area_.right - area_.left);
        // A pixel the shot shows that no later stroke painted yet takes the shot's bytes and number.
        for (int x = span.first; x <= span.last; ++x) {
            int &latest = ranks[x - area_.left];
            if ((shown != nullptr && shown[x] == 0) || latest > rank)
                continue;
            latest = rank;
            std::memcpy(to + x * step, from + x * step, static_cast<std::size_t>(step));
            if (source != nullptr)
                source[x] = number;
        }
    }

    const std::vector<BrushStroke> &strokes_;
    TBitmap picture_, sources_;
    PixelRect area_;
    std::vector<int> ranks_; // of the latest stroke painted at each pixel of area_, -1 for none
};

} // namespace

void ApplyRetouch(StackResult &result, const std::vector<BrushStroke> &strokes)
{
    for (std::size_t i = 0; i < strokes.size(); ++i)
        RequirePaintable(result, strokes[i], i);
    if (strokes.empty())
        return;
    if (result.fused.Bitmap().Empty())
        throw Exception("Cannot apply the retouching strokes: the stack was not fused.");
    Retouch retouch(result, strokes);
    ShotFrames frames(result);
    for (int shot = 0; shot < static_cast<int>(result.shots.size()); ++shot) {
        if (std::none_of(strokes.begin(), strokes.end(), [shot](const BrushStroke &s) { return s.shot == shot; }))
            continue;
        TBitmap coverage;
        const TBitmap pixels = frames.Shot(shot, &coverage);
        retouch.PaintFrom(shot, pixels, coverage);
    }
    retouch.Commit(result);
}
