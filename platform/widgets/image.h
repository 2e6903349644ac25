// TImage: a picture pane. It holds a TPicture and shows it whole, scaled to fit the pane
// (small pictures enlarged by whole steps without smoothing, large ones reduced smoothly),
// or at 100% with scroll bars. The display copy is built once per Changed() call, not at
// every repaint, since pictures may have tens of millions of pixels.
#pragma once

#include "picture.h"

#include <QImage>
#include <QScrollArea>
#include <QString>

#include <vector>

class ImageCanvas;

class TImage : public QScrollArea {
    Q_OBJECT
    Q_PROPERTY(QString ValueName READ ValueName WRITE SetValueName)

public:
    explicit TImage(QWidget *parent = nullptr);
    ~TImage() override;

    // The picture shown; call Changed() once a command has changed it.
    TPicture *const Picture;

    // With AutoSize, the drawing area at 100% takes the size of the picture and scrolls;
    // without, it keeps the pane's size and shows the picture's top-left part.
    void SetAutoSize(bool autoSize);

    // Rebuilds the display copy from Picture and repaints. A pf8bit bitmap shows as grey
    // levels, a pf24bit one in colour, a pf48bit one in colour rounded to 8 bits a channel;
    // with a colour table, byte 0 of each (8-bit) pixel is looked up.
    void Changed();

    // True: the whole picture scaled to the pane; false: 100% with scroll bars.
    bool FitToPane() const noexcept { return fitToPane_; }
    void SetFitToPane(bool fit);

    // Colours for the values 0, 1, ... of byte 0 of each pixel, for display only; values past
    // the table show as their grey level. An empty table shows the bytes as they are.
    void SetColourTable(const std::vector<QRgb> &table);

    // With gain, a pf8bit picture without a colour table is shown brightened so that its 99th
    // percentile shows white: an edge strength map, whose values are mostly small, then shows
    // where the picture is sharp instead of looking black. For display only: the picture and
    // what DescribePixel gives keep their values.
    void SetDisplayGain(bool gain);

    // What a pixel's value is called in DescribePixel ("grey" unless set).
    QString ValueName() const { return valueName_; }
    void SetValueName(const QString &name) { valueName_ = name; }

    // The display copy at 100%: null when the picture is empty or could not be copied.
    const QImage &Shown() const noexcept { return shown_; }

    // The factor the picture is drawn at: 1 at 100%; when fitted, a whole number of at least
    // 1 for a picture smaller than the pane, below 1 for a larger one.
    double Scale() const;

    // "x 3, y 4: grey 17" for the pixel at (x, y); "" outside the picture. A pf24bit or
    // pf48bit pixel whose three channels differ is given as red, green and blue (of 16 bits
    // each for pf48bit).
    QString DescribePixel(int x, int y) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The description of the pixel under the mouse; "" once the mouse has left the picture.
    void PixelPointed(const QString &description);

private:
    friend class ImageCanvas;

    QImage BuildDisplayCopy() const;
    QString DescribeColour(int blue, int green, int red) const;
    void ApplyCanvasSize();

    TPicture picture_;
    ImageCanvas *canvas_;
    QImage shown_;
    bool copyFailed_ = false;
    std::vector<QRgb> colourTable_;
    bool displayGain_ = false;
    bool autoSize_ = false;
    bool fitToPane_ = true;
    QString valueName_ = QStringLiteral("grey");
};
