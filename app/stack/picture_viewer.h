// PictureViewer: the one viewer of the stack window, in which the user flicks between the
// fused picture, the shots and the source map at the same zoom and position, zooms with the
// wheel, pans by dragging and, in paint mode, paints strokes with a round brush. It shows a
// DisplayPicture built elsewhere and draws only the visible part, from the smallest copy that
// still has as many pixels as the view shows. Keys are left to the window.
#pragma once

#include "view_transform.h"

#include <QPointF>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class DisplayPicture;

class PictureViewer : public QWidget {
    Q_OBJECT

public:
    explicit PictureViewer(QWidget *parent = nullptr);
    ~PictureViewer() override;

    // Shows picture. One of the size of the last picture shown keeps the zoom and position
    // exactly (fitted stays fitted), any other size is fitted. nullptr shows an empty grey
    // area with the hint, and the next picture of the last size keeps the view as well.
    void SetPicture(std::shared_ptr<const DisplayPicture> picture);
    const std::shared_ptr<const DisplayPicture> &Picture() const noexcept { return picture_; }
    // The text shown centred while there is no picture ("" for none).
    void SetHint(const QString &hint);

    // The view: see ViewTransform for the rules. A fitted view fits again when the viewer is
    // resized; one the user zoomed or panned keeps its zoom and corner.
    void FitToWindow();
    // 100 %, the picture point at the viewer's centre staying there.
    void ShowActualSize();
    // Zooms by factor, or to zoom (1: 100 %), the picture point under anchor (a widget
    // position) staying under it.
    void ZoomBy(double factor, QPointF anchor);
    void ZoomTo(double zoom, QPointF anchor);
    void PanBy(QPointF widgetDelta);
    double Zoom() const noexcept { return view_.Zoom(); }
    bool IsFitted() const noexcept { return view_.IsFitted(); }
    const ViewTransform &View() const noexcept { return view_; }
    // The level of the picture the current zoom draws from (0: the full copy).
    int DrawnLevel() const;

    // Picture coordinates (picture pixels, the centre of the top-left pixel at (0.5, 0.5))
    // from widget coordinates and back.
    QPointF PictureAt(QPointF widgetPoint) const { return view_.PictureAt(widgetPoint); }
    QPointF WidgetAt(QPointF picturePoint) const { return view_.WidgetAt(picturePoint); }

    // In paint mode a left-button drag paints (StrokePoint, StrokeEnded) instead of panning,
    // and the pointer shows the brush, a circle of the radius in picture pixels (0: none).
    void SetPaintMode(bool paint);
    bool PaintMode() const noexcept { return paintMode_; }
    void SetBrushRadius(double pictureRadius);

    // Repaints the part of the viewer that shows pictureRect (after DisplayPicture::Update).
    void UpdateRect(QRect pictureRect);

    QSize sizeHint() const override { return {640, 480}; }
    QSize minimumSizeHint() const override { return {64, 48}; }

signals:
    // The picture pixel under the mouse, each time it changes to another; PointerLeft once the
    // mouse is over no pixel of the picture any more.
    void PointerAt(int x, int y);
    void PointerLeft();
    // The zoom or the position changed.
    void ViewChanged();
    // Ctrl + wheel: whole notches, positive away from the user; kept for the brush radius.
    void BrushWheel(int steps);
    // A stroke in paint mode: each position of the mouse in picture coordinates, the first
    // at the press (points may lie outside the picture, where the brush still overlaps it),
    // then StrokeEnded at the release.
    void StrokePoint(QPointF picturePoint);
    void StrokeEnded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    enum class Drag { None, Pan, Stroke };

    template <class Change> void ChangeView(Change change);
    void PointTo(std::optional<QPointF> mouse);
    void EndDrag();
    QRect BrushBounds() const;
    void DrawBrush(QPainter &painter) const;
    void UpdateCursor();

    std::shared_ptr<const DisplayPicture> picture_;
    ViewTransform view_;
    QString hint_;
    bool paintMode_ = false;
    double brushRadius_ = 0.0;
    Drag drag_ = Drag::None;
    Qt::MouseButton dragButton_ = Qt::NoButton;
    QPointF dragFrom_;
    int wheelRest_ = 0; // Ctrl + wheel eighths of a degree short of a whole notch
    std::optional<QPointF> mouse_; // the centre of the widget pixel under the mouse
    std::optional<QPoint> pointed_; // the picture pixel last reported by PointerAt
};
