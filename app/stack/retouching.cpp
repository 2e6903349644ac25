#include "retouching.h"

#include "exception.h"

#include <QUndoCommand>

namespace {

QRect ToQRect(PixelRect rect) { return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top); }

} // namespace

// One stroke: its tiles before and after, and the stroke itself for the list of strokes.
class Retouching::StrokeStep : public QUndoCommand {
public:
    StrokeStep(Retouching &owner, BrushStroke stroke, RetouchTiles before, RetouchTiles after)
        : QUndoCommand(QStringLiteral("stroke")), owner_(owner), stroke_(std::move(stroke)),
          before_(std::move(before)), after_(std::move(after))
    {
    }

    void redo() override
    {
        owner_.Show(after_.Restore(owner_.picture_.Bitmap(), owner_.sources_));
        owner_.strokes_.push_back(stroke_);
    }

    void undo() override
    {
        owner_.Show(before_.Restore(owner_.picture_.Bitmap(), owner_.sources_));
        owner_.strokes_.pop_back();
    }

private:
    Retouching &owner_;
    BrushStroke stroke_;
    RetouchTiles before_, after_;
};

// Every stroke taken off: the tiles they touched go back to the unretouched fusion.
class Retouching::ClearStep : public QUndoCommand {
public:
    explicit ClearStep(Retouching &owner) : QUndoCommand(QStringLiteral("clear retouching")), owner_(owner)
    {
        const TBitmap &picture = owner_.picture_.Bitmap();
        for (const BrushStroke &stroke : owner_.strokes_)
            before_.Keep(picture, owner_.sources_, StrokeBounds(stroke, picture.Width(), picture.Height()));
        strokes_ = owner_.strokes_;
    }

    void redo() override
    {
        // Each kept tile takes the unretouched pixels: restored from a copy of the tiles' places
        // in the base, which RetouchTiles makes.
        const RetouchTiles unretouched = before_.Now(owner_.base_->fused.Bitmap(), owner_.base_->sourceMap);
        owner_.Show(unretouched.Restore(owner_.picture_.Bitmap(), owner_.sources_));
        owner_.strokes_.clear();
    }

    void undo() override
    {
        owner_.Show(before_.Restore(owner_.picture_.Bitmap(), owner_.sources_));
        owner_.strokes_ = strokes_;
    }

private:
    Retouching &owner_;
    RetouchTiles before_;
    std::vector<BrushStroke> strokes_;
};

Retouching::Retouching(QObject *parent) : QObject(parent) {}

Retouching::~Retouching() = default;

void Retouching::Reset(std::shared_ptr<const StackResult> base, TPicture picture, TBitmap sources,
                       std::vector<BrushStroke> strokes)
{
    history_.clear();
    stroke_.reset();
    base_ = std::move(base);
    picture_ = std::move(picture);
    sources_ = std::move(sources);
    strokes_ = std::move(strokes);
    pictureView_.reset();
    sourcesView_.reset();
    brushShot_ = -1;
    brushPixels_ = TBitmap();
    brushCoverage_ = TBitmap();
}

void Retouching::SetViews(std::shared_ptr<DisplayPicture> picture, std::shared_ptr<DisplayPicture> sources)
{
    pictureView_ = std::move(picture);
    sourcesView_ = std::move(sources);
}

void Retouching::SetBrush(int shot, TBitmap pixels, TBitmap coverage)
{
    brushShot_ = shot;
    brushPixels_ = std::move(pixels);
    brushCoverage_ = std::move(coverage);
}

void Retouching::PaintTo(StrokePoint point, double radius)
{
    if (brushShot_ < 0)
        throw Exception("Choose the shot to paint from first: click it in the strip or press its number.");
    if (!stroke_) {
        stroke_ = BrushStroke{brushShot_, radius, {}};
        before_ = RetouchTiles();
    }
    // The segment from the last point to this one, a disc at the first: painted alone, it gives
    // the bytes of the whole stroke painted at once.
    BrushStroke segment{brushShot_, radius, {stroke_->points.empty() ? point : stroke_->points.back(), point}};
    stroke_->points.push_back(point);
    TBitmap &picture = picture_.Bitmap();
    before_.Keep(picture, sources_, StrokeBounds(segment, picture.Width(), picture.Height()));
    Show(PaintStroke(segment, brushPixels_, picture, &sources_, static_cast<std::uint8_t>(brushShot_ + 1),
                     brushCoverage_.Empty() ? nullptr : &brushCoverage_));
}

void Retouching::EndStroke()
{
    if (!stroke_)
        return;
    RetouchTiles after = before_.Now(picture_.Bitmap(), sources_);
    history_.push(new StrokeStep(*this, std::move(*stroke_), std::move(before_), std::move(after)));
    stroke_.reset();
    before_ = RetouchTiles();
}

void Retouching::Clear()
{
    if (!strokes_.empty())
        history_.push(new ClearStep(*this));
}

// Brings the display copies up to date in rect and says so.
void Retouching::Show(PixelRect rect)
{
    if (rect.Empty())
        return;
    const QRect changed = ToQRect(rect);
    if (pictureView_)
        pictureView_->Update(picture_.Bitmap(), changed);
    if (sourcesView_)
        sourcesView_->Update(sources_, changed);
    emit Changed(changed);
}
