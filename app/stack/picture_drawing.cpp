#include "picture_drawing.h"

#include "display_picture.h"
#include "view_transform.h"

#include <QPainter>

#include <cmath>

namespace {

// A zoom reached by products of factors misses a power of two by a rounding error; it still
// reads the level of that power, drawn 1:1.
constexpr double Tolerance = 1e-9;

} // namespace

int LevelFor(const DisplayPicture &picture, double zoom)
{
    int level = 0;
    while (level + 1 < picture.LevelCount() && zoom * (2 << level) <= 1.0 + Tolerance)
        ++level;
    return level;
}

QPointF DrawnCorner(QPointF corner) { return {std::round(corner.x()), std::round(corner.y())}; }

QRect DrawnRect(QSize picture, const ViewTransform &view)
{
    const QPointF corner = DrawnCorner(view.Corner());
    const QPointF end = corner + QPointF(picture.width(), picture.height()) * view.Zoom();
    return {QPoint(static_cast<int>(corner.x()), static_cast<int>(corner.y())),
            QPoint(static_cast<int>(std::lround(end.x())) - 1, static_cast<int>(std::lround(end.y())) - 1)};
}

void DrawPicture(QPainter &painter, const DisplayPicture &picture, const ViewTransform &view, QRect exposed)
{
    const QRect drawn = DrawnRect(QSize(picture.Width(), picture.Height()), view);
    const QRect visible = drawn & QRect(QPoint(0, 0), view.WidgetSize());
    if ((visible & exposed).isEmpty())
        return;
    const int level = LevelFor(picture, view.Zoom());
    const QImage &image = picture.Level(level);
    const double scale = view.Zoom() * (1 << level); // widget pixels a pixel of the level
    const QPointF corner = DrawnCorner(view.Corner());
    // The level's pixels under the whole visible part, and one more on every side so that the
    // smoothing at the viewer's edges blends in the picture beyond them. The clip keeps the
    // drawing to what is exposed; source and target do not depend on it, so a part repainted
    // alone gets the pixels a whole repaint gives it (Qt's fixed-point steps along a row may
    // still round the last bit otherwise).
    const QRectF under((QPointF(visible.topLeft()) - corner) / scale, QSizeF(visible.size()) / scale);
    const QRect source = QRect(QPoint(static_cast<int>(std::floor(under.left())) - 1,
                                      static_cast<int>(std::floor(under.top())) - 1),
                               QPoint(static_cast<int>(std::ceil(under.right())),
                                      static_cast<int>(std::ceil(under.bottom()))))
                         & image.rect();
    painter.save();
    painter.setClipRect(visible & exposed);
    if (std::abs(scale - 1.0) < Tolerance) {
        painter.drawImage(corner.toPoint() + source.topLeft(), image, source);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1.0);
        painter.drawImage(QRectF(corner + QPointF(source.topLeft()) * scale, QSizeF(source.size()) * scale), image,
                          QRectF(source));
    }
    painter.restore();
}
