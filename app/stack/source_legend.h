// The legend of the source map: the colour of each shot, first to last, along the ramp, with the
// first and last shots' names at its ends, so that the map reads as a depth map of the scene.
#pragma once

#include <QRgb>
#include <QString>
#include <QWidget>

#include <vector>

class SourceLegend : public QWidget {
    Q_OBJECT

public:
    explicit SourceLegend(QWidget *parent = nullptr);

    // Shots' names in order; their colours are SourceColours of their number.
    void SetShots(const std::vector<QString> &names);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<QString> names_;
    std::vector<QRgb> colours_;
};
