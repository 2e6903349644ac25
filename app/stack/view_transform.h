// ViewTransform: where the stack window's viewer draws its picture, as a zoom (widget pixels
// a picture pixel) and the widget position of the picture's top-left corner; with fitting,
// zooming about a point and panning that always leaves part of the picture in view. Plain
// geometry, so that the viewer's rules are checked without painting.
#pragma once

#include <QPointF>
#include <QSize>

class ViewTransform {
public:
    static constexpr double MaxZoom = 32.0;
    // The least zoom unless fitting needs less.
    static constexpr double LeastZoom = 1.0 / 64;

    // A picture of another size than the last one (or the first) is fitted; one of the same
    // size keeps the zoom and position as they are.
    void SetPictureSize(QSize picture);
    // A fitted view fits again; any other keeps its zoom and corner, moved only as far as
    // the panning rule needs.
    void SetWidgetSize(QSize widget);

    // The whole picture in the widget, centred: shrunk to fit, or enlarged by the largest
    // whole factor that fits (so that pixels stay equal squares), at most MaxZoom.
    void Fit();
    // Sets the zoom, limited to [MinZoom(), MaxZoom], so that the picture point under anchor
    // (a widget position) stays under it, then applies the panning rule.
    void ZoomAbout(double zoom, QPointF anchor);
    // Moves the picture by delta widget pixels, as far as the panning rule lets it.
    void PanBy(QPointF delta);

    double Zoom() const noexcept { return zoom_; }
    bool IsFitted() const noexcept { return fitted_; }
    QPointF Corner() const noexcept { return corner_; }
    QSize PictureSize() const noexcept { return picture_; }
    QSize WidgetSize() const noexcept { return widget_; }
    double FitZoom() const;
    double MinZoom() const;

    // Picture coordinates are picture pixels with (0, 0) at the top-left corner of the
    // top-left pixel, so the centre of pixel (x, y) is (x + 0.5, y + 0.5); widget coordinates
    // are the widget's, (0, 0) at its top-left corner. The two are each other's inverse.
    QPointF PictureAt(QPointF widgetPoint) const { return (widgetPoint - corner_) / zoom_; }
    QPointF WidgetAt(QPointF picturePoint) const { return corner_ + picturePoint * zoom_; }

private:
    void KeepInView();

    QSize picture_;
    QSize widget_;
    double zoom_ = 1.0;
    QPointF corner_;
    bool fitted_ = true;
};
