// How the stack window's viewer draws a DisplayPicture: which of its copies a zoom reads, and
// the drawing of the part of the picture under a widget rectangle, smoothed when reduced and
// with crisp square pixels when enlarged. Only what is exposed is read and drawn.
#pragma once

#include <QPointF>
#include <QRect>
#include <QSize>

class DisplayPicture;
class QPainter;
class ViewTransform;

// The smallest level of picture that is still at least as large as the picture drawn at
// zoom: the largest k with zoom * 2^k <= 1, at most the last level; 0 for zoom above 1/2.
int LevelFor(const DisplayPicture &picture, double zoom);

// The widget pixels a picture of that size covers in view: its corner rounded to whole widget
// pixels (so that a level drawn 1:1 is a plain copy, never resampled by a fraction of a pixel),
// and each edge on the pixel whose centre it passes.
QPointF DrawnCorner(QPointF corner);
QRect DrawnRect(QSize picture, const ViewTransform &view);

// Draws the part of picture under exposed (widget pixels) with painter, from the level the
// view's zoom reads; nothing outside DrawnRect.
void DrawPicture(QPainter &painter, const DisplayPicture &picture, const ViewTransform &view, QRect exposed);
