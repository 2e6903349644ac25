#include "picture_viewer.h"

#include "display_picture.h"
#include "picture_drawing.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const QColor Background(72, 72, 72);
const QColor HintColour(208, 208, 208);
// One notch of a mouse wheel is 120 eighths of a degree and zooms by 1.25; touchpads send
// fractions of a notch, which zoom by the matching fraction.
constexpr int Notch = 120;
constexpr double NotchZoom = 1.25;

// A mouse position names the widget pixel under it; its centre is what maps to the picture.
QPointF PixelCentre(QPointF position) { return position + QPointF(0.5, 0.5); }

} // namespace

PictureViewer::PictureViewer(QWidget *parent) : QWidget(parent)
{
    // Every paint covers its whole rectangle: the background only around the picture.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    view_.SetWidgetSize(size());
}

PictureViewer::~PictureViewer() = default;

// Runs change on the view; when zoom, position or fitting changed, repaints and tells.
template <class Change> void PictureViewer::ChangeView(Change change)
{
    const double zoom = view_.Zoom();
    const QPointF corner = view_.Corner();
    const bool fitted = view_.IsFitted();
    change();
    if (view_.Zoom() == zoom && view_.Corner().x() == corner.x() && view_.Corner().y() == corner.y()
        && view_.IsFitted() == fitted)
        return;
    update();
    emit ViewChanged();
    PointTo(mouse_);
}

void PictureViewer::SetPicture(std::shared_ptr<const DisplayPicture> picture)
{
    picture_ = std::move(picture);
    if (picture_)
        ChangeView([this] { view_.SetPictureSize(QSize(picture_->Width(), picture_->Height())); });
    update();
    PointTo(mouse_);
}

void PictureViewer::SetHint(const QString &hint)
{
    hint_ = hint;
    if (!picture_)
        update();
}

void PictureViewer::FitToWindow() { ChangeView([this] { view_.Fit(); }); }

void PictureViewer::ShowActualSize() { ZoomTo(1.0, QPointF(width(), height()) / 2); }

void PictureViewer::ZoomBy(double factor, QPointF anchor) { ZoomTo(view_.Zoom() * factor, anchor); }

void PictureViewer::ZoomTo(double zoom, QPointF anchor) { ChangeView([&] { view_.ZoomAbout(zoom, anchor); }); }

void PictureViewer::PanBy(QPointF widgetDelta) { ChangeView([&] { view_.PanBy(widgetDelta); }); }

int PictureViewer::DrawnLevel() const { return picture_ ? LevelFor(*picture_, view_.Zoom()) : 0; }

void PictureViewer::SetPaintMode(bool paint)
{
    if (!paint && drag_ == Drag::Stroke)
        EndDrag();
    update(BrushBounds());
    paintMode_ = paint;
    update(BrushBounds());
    UpdateCursor();
}

void PictureViewer::SetBrushRadius(double pictureRadius)
{
    update(BrushBounds());
    brushRadius_ = std::max(0.0, pictureRadius);
    update(BrushBounds());
}

void PictureViewer::UpdateRect(QRect pictureRect)
{
    if (!picture_ || pictureRect.isEmpty())
        return;
    // A few widget pixels more on every side: smoothing blends a pixel into its neighbours
    // and the picture's corner is drawn rounded to whole pixels.
    const QRectF shown(WidgetAt(pictureRect.topLeft()),
                       WidgetAt(QPointF(pictureRect.right() + 1, pictureRect.bottom() + 1)));
    update(shown.toAlignedRect().adjusted(-3, -3, 3, 3) & rect());
}

void PictureViewer::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect exposed = event->rect();
    const QRect drawn = picture_ ? DrawnRect(QSize(picture_->Width(), picture_->Height()), view_) : QRect();
    for (const QRect &part : QRegion(exposed).subtracted(drawn))
        painter.fillRect(part, Background);
    if (picture_) {
        DrawPicture(painter, *picture_, view_, exposed);
    } else if (!hint_.isEmpty()) {
        painter.setPen(HintColour);
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, hint_);
    }
    DrawBrush(painter);
}

void PictureViewer::resizeEvent(QResizeEvent *)
{
    ChangeView([this] { view_.SetWidgetSize(size()); });
}

void PictureViewer::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        wheelRest_ += delta;
        const int steps = wheelRest_ / Notch;
        wheelRest_ -= steps * Notch;
        if (steps != 0)
            emit BrushWheel(steps);
    } else {
        ZoomBy(std::pow(NotchZoom, static_cast<double>(delta) / Notch), PixelCentre(event->position()));
    }
    event->accept();
}

void PictureViewer::mousePressEvent(QMouseEvent *event)
{
    if (drag_ != Drag::None)
        return;
    if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && !paintMode_))
        drag_ = Drag::Pan;
    else if (event->button() == Qt::LeftButton)
        drag_ = Drag::Stroke;
    else
        return event->ignore();
    dragButton_ = event->button();
    dragFrom_ = PixelCentre(event->position());
    PointTo(dragFrom_);
    UpdateCursor();
    if (drag_ == Drag::Stroke)
        emit StrokePoint(PictureAt(dragFrom_));
}

void PictureViewer::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF mouse = PixelCentre(event->position());
    update(BrushBounds());
    if (drag_ == Drag::Pan) {
        PanBy(mouse - dragFrom_);
        dragFrom_ = mouse;
    }
    PointTo(mouse);
    update(BrushBounds());
    if (drag_ == Drag::Stroke)
        emit StrokePoint(PictureAt(mouse));
}

void PictureViewer::mouseReleaseEvent(QMouseEvent *event)
{
    if (drag_ != Drag::None && event->button() == dragButton_)
        EndDrag();
}

void PictureViewer::leaveEvent(QEvent *)
{
    update(BrushBounds());
    PointTo(std::nullopt);
}

// Remembers where the mouse is and reports the picture pixel under it when that changed.
void PictureViewer::PointTo(std::optional<QPointF> mouse)
{
    mouse_ = mouse;
    std::optional<QPoint> pixel;
    if (mouse_ && picture_) {
        const QPointF at = PictureAt(*mouse_);
        const QPoint under(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
        if (under.x() >= 0 && under.y() >= 0 && under.x() < picture_->Width() && under.y() < picture_->Height())
            pixel = under;
    }
    if (pixel == pointed_)
        return;
    pointed_ = pixel;
    if (pixel)
        emit PointerAt(pixel->x(), pixel->y());
    else
        emit PointerLeft();
}

void PictureViewer::EndDrag()
{
    const bool stroke = drag_ == Drag::Stroke;
    drag_ = Drag::None;
    dragButton_ = Qt::NoButton;
    UpdateCursor();
    if (stroke)
        emit StrokeEnded();
}

// The widget pixels the brush outline covers; empty when none is shown.
QRect PictureViewer::BrushBounds() const
{
    if (!paintMode_ || brushRadius_ <= 0.0 || !mouse_)
        return {};
    const double reach = brushRadius_ * view_.Zoom() + 3;
    const QRectF outline(*mouse_ - QPointF(reach, reach), QSizeF(2 * reach, 2 * reach));
    return (outline & QRectF(rect())).toAlignedRect();
}

// The brush as a white circle inside a black one, which shows on dark and light pictures.
void PictureViewer::DrawBrush(QPainter &painter) const
{
    if (BrushBounds().isEmpty())
        return;
    const double radius = brushRadius_ * view_.Zoom();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1.0));
    painter.drawEllipse(*mouse_, radius + 1, radius + 1);
    painter.setPen(QPen(Qt::white, 1.0));
    painter.drawEllipse(*mouse_, radius, radius);
}

void PictureViewer::UpdateCursor()
{
    if (drag_ == Drag::Pan)
        setCursor(Qt::ClosedHandCursor);
    else if (paintMode_)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
}
