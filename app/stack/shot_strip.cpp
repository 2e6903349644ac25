#include "shot_strip.h"

#include <QFileInfo>
#include <QPainter>

namespace {

constexpr int IconSide = 112;

// A grey square for a shot not read yet, so that every entry keeps its height.
QIcon Placeholder()
{
    QPixmap square(IconSide, IconSide * 3 / 4);
    square.fill(QColor(90, 90, 90));
    return QIcon(square);
}

} // namespace

ShotStrip::ShotStrip(QWidget *parent) : QListWidget(parent)
{
    setObjectName(QStringLiteral("shotStrip"));
    setIconSize(QSize(IconSide, IconSide));
    setWordWrap(true);
    setTextElideMode(Qt::ElideMiddle);
    setSpacing(2);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFocusPolicy(Qt::NoFocus); // the window's keys (arrows, numbers) choose shots, not the list
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) { emit ShotChosen(row(item)); });
}

void ShotStrip::ShowShots(const std::vector<StackSession::Shot> &shots)
{
    clear();
    for (std::size_t i = 0; i < shots.size(); ++i) {
        addItem(new QListWidgetItem(Placeholder(), QString()));
        ShowShot(static_cast<int>(i), shots[i]);
    }
}

void ShotStrip::ShowShot(int index, const StackSession::Shot &shot)
{
    QListWidgetItem *entry = item(index);
    if (entry == nullptr)
        return;
    const ShotReport &report = shot.report;
    QString text = QStringLiteral("%1  %2").arg(index + 1).arg(QFileInfo(QString::fromStdString(report.file)).fileName());
    if (report.header.width > 0)
        text += QStringLiteral("\n") + QString::fromStdString(SizeText(report.header.width, report.header.height));
    text += QStringLiteral("\n") + StateText(report);
    entry->setText(text);
    entry->setToolTip(QString::fromStdString(report.file) + QStringLiteral("\n") + StateText(report));
    entry->setForeground(report.state == ShotState::LeftOut ? QColor(200, 40, 40) : palette().text().color());
    if (!shot.thumbnail.isNull())
        entry->setIcon(QIcon(QPixmap::fromImage(shot.thumbnail)));
}

void ShotStrip::MarkShown(int index)
{
    if (index < 0) {
        clearSelection();
        return;
    }
    setCurrentRow(index);
    scrollToItem(item(index));
}

QString ShotStrip::StateText(const ShotReport &report)
{
    switch (report.state) {
    case ShotState::Waiting:
        return QStringLiteral("waiting");
    case ShotState::LeftOut:
        return QStringLiteral("left out: ") + QString::fromStdString(report.reason);
    case ShotState::Fused:
        break;
    }
    if (report.move)
        return QStringLiteral("aligned: ") + QString::fromStdString(MoveText(*report.move));
    return QStringLiteral("read");
}
