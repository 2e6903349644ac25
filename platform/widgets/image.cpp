#include "image.h"

#include <QList>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The factor that shows a picture whole in room: a whole number of at least 1 when it fits,
// so that enlarged pixels stay equal squares; the exact fraction when it must shrink.
double FitScale(QSize room, QSize picture)
{
    if (picture.isEmpty() || room.isEmpty())
        return 1.0;
    const double scale = std::min(static_cast<double>(room.width()) / picture.width(),
                                  static_cast<double>(room.height()) / picture.height());
    return scale >= 1.0 ? std::floor(scale) : scale;
}

QSize SizeOf(const TBitmap &bitmap) { return {bitmap.Width(), bitmap.Height()}; }

// The greys that show a pf8bit picture's 99th percentile (at least 1) as white, and every value
// in proportion up to it.
std::vector<QRgb> GainTable(const TBitmap &bitmap)
{
    std::vector<unsigned long long> histogram(256);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t *row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x)
            ++histogram[row[x]];
    }
    const unsigned long long pixels = static_cast<unsigned long long>(bitmap.Width()) * bitmap.Height();
    unsigned long long atOrBelow = 0;
    int white = 255;
    for (int value = 0; value < 256; ++value)
        if ((atOrBelow += histogram[value]) * 100 >= pixels * 99) {
            white = std::max(value, 1);
            break;
        }
    std::vector<QRgb> greys(256);
    for (int value = 0; value < 256; ++value) {
        const int grey = std::min(255, (value * 255 + white / 2) / white);
        greys[value] = qRgb(grey, grey, grey);
    }
    return greys;
}

} // namespace

// The drawing area inside a TImage's scroll area: paints the display copy at the pane's
// scale, centred when fitted, and reports the pixel under the mouse.
class ImageCanvas : public QWidget {
public:
    explicit ImageCanvas(TImage &owner) : owner_(owner) { setMouseTracking(true); }

    // Drops the scaled copy, so that the next repaint makes one from the new display copy.
    void Invalidate()
    {
        scaled_ = QImage();
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (owner_.copyFailed_) {
            painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                             QStringLiteral("Not enough memory to show this picture."));
            return;
        }
        const QImage &shown = owner_.shown_;
        if (shown.isNull())
            return;
        const double scale = owner_.Scale();
        if (scale == 1.0) {
            painter.drawImage(Origin(), shown);
            return;
        }
        const QSize drawn = DrawnSize();
        if (scaled_.size() != drawn)
            scaled_ = shown.scaled(drawn, Qt::IgnoreAspectRatio,
                                   scale > 1.0 ? Qt::FastTransformation : Qt::SmoothTransformation);
        painter.drawImage(Origin(), scaled_);
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const double scale = owner_.Scale();
        const QPointF inPicture = (event->position() - QPointF(Origin())) / scale;
        emit owner_.PixelPointed(owner_.DescribePixel(static_cast<int>(std::floor(inPicture.x())),
                                                      static_cast<int>(std::floor(inPicture.y()))));
    }

    void leaveEvent(QEvent *) override { emit owner_.PixelPointed(QString()); }

    void resizeEvent(QResizeEvent *) override { scaled_ = QImage(); }

private:
    QSize DrawnSize() const
    {
        const double scale = owner_.Scale();
        const QSize picture = SizeOf(owner_.Picture->Bitmap());
        return {static_cast<int>(std::lround(picture.width() * scale)),
                static_cast<int>(std::lround(picture.height() * scale))};
    }

    // The top-left corner of the drawn picture: centred when fitted, else the corner.
    QPoint Origin() const
    {
        if (!owner_.FitToPane())
            return {0, 0};
        const QSize room = size() - DrawnSize();
        return {std::max(0, room.width() / 2), std::max(0, room.height() / 2)};
    }

    TImage &owner_;
    QImage scaled_;
};

TImage::TImage(QWidget *parent) : QScrollArea(parent), Picture(&picture_), canvas_(new ImageCanvas(*this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Focus by click only, for scrolling with the keys at 100%; Tab goes through the buttons.
    setFocusPolicy(Qt::ClickFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidget(canvas_);
    ApplyCanvasSize();
}

TImage::~TImage() = default;

void TImage::SetAutoSize(bool autoSize)
{
    autoSize_ = autoSize;
    ApplyCanvasSize();
}

void TImage::Changed()
{
    shown_ = BuildDisplayCopy();
    copyFailed_ = shown_.isNull() && !Picture->Bitmap().Empty();
    ApplyCanvasSize();
    canvas_->Invalidate();
}

void TImage::SetFitToPane(bool fit)
{
    fitToPane_ = fit;
    ApplyCanvasSize();
    canvas_->Invalidate();
}

void TImage::SetColourTable(const std::vector<QRgb> &table)
{
    colourTable_ = table;
    Changed();
}

void TImage::SetDisplayGain(bool gain)
{
    displayGain_ = gain;
    Changed();
}

double TImage::Scale() const { return fitToPane_ ? FitScale(canvas_->size(), SizeOf(Picture->Bitmap())) : 1.0; }

QString TImage::DescribePixel(int x, int y) const
{
    const TBitmap &bitmap = Picture->Bitmap();
    if (x < 0 || y < 0 || x >= bitmap.Width() || y >= bitmap.Height())
        return {};
    const QString where = QStringLiteral("x %1, y %2: ").arg(x).arg(y);
    const std::uint8_t *row = bitmap.ScanLine(y);
    if (bitmap.PixelFormat() == pf8bit)
        return where + valueName_ + ' ' + QString::number(row[x]);
    if (bitmap.PixelFormat() == pf48bit) {
        const std::uint16_t *pixel = reinterpret_cast<const std::uint16_t *>(row) + 3 * x;
        return where + DescribeColour(pixel[0], pixel[1], pixel[2]);
    }
    const std::uint8_t *pixel = row + 3 * x;
    return where + DescribeColour(pixel[0], pixel[1], pixel[2]);
}

QString TImage::DescribeColour(int blue, int green, int red) const
{
    if (blue == green && blue == red)
        return valueName_ + ' ' + QString::number(blue);
    return QStringLiteral("red %1, green %2, blue %3").arg(red).arg(green).arg(blue);
}

QSize TImage::sizeHint() const { return {240, 180}; }

QSize TImage::minimumSizeHint() const { return {60, 45}; }

// Copies the bitmap's rows into a QImage of the matching format (grey, blue-green-red, or
// indexed through the colour table). A copy Qt cannot allocate comes back null.
QImage TImage::BuildDisplayCopy() const
{
    if (Picture->Bitmap().Empty())
        return {};
    // A picture of 16 bits a channel is shown through its 8-bit rounding.
    TBitmap narrowed;
    if (Picture->Bitmap().PixelFormat() == pf48bit) {
        narrowed.Assign(Picture->Bitmap());
        narrowed.SetPixelFormat(pf24bit);
    }
    const TBitmap &bitmap = narrowed.Empty() ? Picture->Bitmap() : narrowed;
    const int width = bitmap.Width(), height = bitmap.Height();
    const int step = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    const bool brightened = displayGain_ && colourTable_.empty() && bitmap.PixelFormat() == pf8bit;
    const std::vector<QRgb> colourTable = brightened ? GainTable(bitmap) : colourTable_;
    if (!colourTable.empty()) {
        QImage copy(width, height, QImage::Format_Indexed8);
        if (copy.isNull())
            return copy;
        QList<QRgb> colours(256);
        for (int value = 0; value < 256; ++value)
            colours[value] = static_cast<std::size_t>(value) < colourTable.size() ? colourTable[value]
                                                                                   : qRgb(value, value, value);
        copy.setColorTable(colours);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *from = bitmap.ScanLine(y);
            uchar *to = copy.scanLine(y);
            for (int x = 0; x < width; ++x)
                to[x] = from[step * x];
        }
        return copy;
    }
    QImage copy(width, height, bitmap.PixelFormat() == pf8bit ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
    if (copy.isNull())
        return copy;
    for (int y = 0; y < height; ++y)
        std::memcpy(copy.scanLine(y), bitmap.ScanLine(y), static_cast<std::size_t>(width) * step);
    return copy;
}

// Fitted, or at 100% without AutoSize, the drawing area fills the pane; at 100% with
// AutoSize it takes the picture's size and the pane scrolls.
void TImage::ApplyCanvasSize()
{
    const bool scrolls = !fitToPane_ && autoSize_;
    setWidgetResizable(!scrolls);
    if (scrolls)
        canvas_->resize(SizeOf(Picture->Bitmap()));
}
