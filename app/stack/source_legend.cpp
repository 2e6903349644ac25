#include "source_legend.h"

#include "source_colours.h"

#include <QPainter>

SourceLegend::SourceLegend(QWidget *parent) : QWidget(parent) { setObjectName(QStringLiteral("sourceLegend")); }

void SourceLegend::SetShots(const std::vector<QString> &names)
{
    names_ = names;
    colours_ = SourceColours(static_cast<int>(names.size()));
    update();
}

QSize SourceLegend::sizeHint() const { return {400, 2 * fontMetrics().height() + 14}; }

void SourceLegend::paintEvent(QPaintEvent *)
{
    if (names_.empty())
        return;
    QPainter painter(this);
    const int count = static_cast<int>(names_.size()), line = fontMetrics().height();
    const QRect bar(4, 4, width() - 8, line);
    // One band per shot, first on the left.
    for (int k = 0; k < count; ++k) {
        const int left = bar.left() + bar.width() * k / count, right = bar.left() + bar.width() * (k + 1) / count;
        painter.fillRect(QRect(left, bar.top(), std::max(1, right - left), bar.height()), QColor(colours_[k + 1]));
    }
    const QRect labels(bar.left(), bar.bottom() + 4, bar.width(), line);
    painter.drawText(labels, Qt::AlignLeft, QStringLiteral("1: ") + names_.front());
    painter.drawText(labels, Qt::AlignRight, QStringLiteral("%1: ").arg(count) + names_.back());
    painter.drawText(labels, Qt::AlignHCenter, tr("source shot"));
}
