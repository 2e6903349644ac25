#include "view_transform.h"

#include <algorithm>
#include <cmath>

namespace {

// The corner along one axis that keeps at least min(drawn, room / 2) widget pixels of the
// picture in view: the picture's edge can be brought to the middle of the widget, no further.
double InView(double corner, double drawn, double room)
{
    const double kept = std::min(drawn, room / 2);
    return std::clamp(corner, kept - drawn, room - kept);
}

} // namespace

void ViewTransform::SetPictureSize(QSize picture)
{
    if (picture == picture_)
        return;
    picture_ = picture;
    Fit();
}

void ViewTransform::SetWidgetSize(QSize widget)
{
    widget_ = widget;
    if (fitted_)
        Fit();
    else
        KeepInView();
}

double ViewTransform::FitZoom() const
{
    if (picture_.isEmpty() || widget_.isEmpty())
        return 1.0;
    const double zoom = std::min(static_cast<double>(widget_.width()) / picture_.width(),
                                 static_cast<double>(widget_.height()) / picture_.height());
    return zoom >= 1.0 ? std::min(std::floor(zoom), MaxZoom) : zoom;
}

double ViewTransform::MinZoom() const { return std::min(FitZoom(), LeastZoom); }

void ViewTransform::Fit()
{
    zoom_ = FitZoom();
    corner_ = QPointF(widget_.width() - picture_.width() * zoom_, widget_.height() - picture_.height() * zoom_) / 2;
    fitted_ = true;
}

void ViewTransform::ZoomAbout(double zoom, QPointF anchor)
{
    const QPointF underAnchor = PictureAt(anchor);
    zoom_ = std::clamp(zoom, MinZoom(), MaxZoom);
    corner_ = anchor - underAnchor * zoom_;
    fitted_ = false;
    KeepInView();
}

void ViewTransform::PanBy(QPointF delta)
{
    corner_ += delta;
    fitted_ = false;
    KeepInView();
}

void ViewTransform::KeepInView()
{
    corner_ = QPointF(InView(corner_.x(), picture_.width() * zoom_, widget_.width()),
                      InView(corner_.y(), picture_.height() * zoom_, widget_.height()));
}
