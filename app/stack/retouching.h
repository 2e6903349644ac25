// The retouching of a fused stack in the stack window: the picture and its source map as painted,
// the strokes in order and their undo history. A stroke paints live, segment by segment, from the
// brush's shot with the function edgedom-cli applies a stack file's strokes with, so the window's
// picture equals `edgedom-cli --stack` on the stack it saves. The strokes are kept as strokes: a
// new fusion paints them again, and the stack file holds them.
#pragma once

#include "brush_stroke.h"
#include "display_picture.h"
#include "retouch_tiles.h"
#include "stack_fusion.h"

#include <QObject>
#include <QRect>
#include <QUndoStack>

#include <memory>
#include <optional>
#include <vector>

class Retouching : public QObject {
    Q_OBJECT

public:
    explicit Retouching(QObject *parent = nullptr);
    ~Retouching() override;

    // Starts again on a fusion: base, its picture and source map unretouched (what Clear brings
    // back), and the picture and source map with the strokes painted. The history starts afresh.
    void Reset(std::shared_ptr<const StackResult> base, TPicture picture, TBitmap sources,
               std::vector<BrushStroke> strokes);
    // The display copies kept in step with the picture and the source map (null: none).
    void SetViews(std::shared_ptr<DisplayPicture> picture, std::shared_ptr<DisplayPicture> sources);

    const TPicture &Picture() const noexcept { return picture_; }
    const TBitmap &Sources() const noexcept { return sources_; }
    const std::vector<BrushStroke> &Strokes() const noexcept { return strokes_; }
    QUndoStack &History() noexcept { return history_; }

    // The shot the brush paints from (its index in the stack), as it was fused, with its coverage
    // (empty when it covers every pixel).
    void SetBrush(int shot, TBitmap pixels, TBitmap coverage);
    int BrushShot() const noexcept { return brushShot_; }

    // Paints from the brush's shot with a brush of radius (1 to MaxBrushRadius picture pixels):
    // the first call of a stroke a disc at point, each later one the segment from the point
    // before to this one.
    void PaintTo(StrokePoint point, double radius);
    // Ends the stroke under way: one step of the history.
    void EndStroke();
    // Takes every stroke off: one step of the history.
    void Clear();

signals:
    // The rectangle (in picture pixels) of the picture and source map that changed.
    void Changed(const QRect &rect);

private:
    class StrokeStep;
    class ClearStep;

    void Show(PixelRect rect);

    std::shared_ptr<const StackResult> base_;
    TPicture picture_;
    TBitmap sources_;
    std::vector<BrushStroke> strokes_;
    std::shared_ptr<DisplayPicture> pictureView_, sourcesView_;
    int brushShot_ = -1;
    TBitmap brushPixels_, brushCoverage_;
    std::optional<BrushStroke> stroke_; // under way
    RetouchTiles before_;               // the tiles the stroke under way touched, as they were
    QUndoStack history_;
};
