#include "retouch_tool.h"

#include "picture_viewer.h"
#include "stack_session.h"

#include <QAction>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {

const QString RadiusSetting = QStringLiteral("stack/brushRadius");
constexpr double RadiusStep = 1.25; // a key press or wheel notch

QAction *NewAction(QWidget &window, const QString &text, const QList<QKeySequence> &keys)
{
    auto *action = new QAction(text, &window);
    action->setShortcuts(keys);
    window.addAction(action);
    return action;
}

} // namespace

RetouchTool::RetouchTool(StackSession &session, PictureViewer &viewer, QWidget &window)
    : QObject(&window), session_(session), viewer_(viewer),
      radius_(std::clamp(QSettings().value(RadiusSetting, 40.0).toDouble(), 1.0, MaxBrushRadius))
{
    toggle_ = NewAction(window, tr("&Retouch"), {QKeySequence(tr("R"))});
    toggle_->setObjectName(QStringLiteral("retouchAction"));
    toggle_->setCheckable(true);
    toggle_->setToolTip(tr("Paint places of the fused picture from the chosen shot (R)"));
    QUndoStack &history = session_.Retouch().History();
    undo_ = history.createUndoAction(&window, tr("&Undo"));
    undo_->setShortcuts({QKeySequence::Undo});
    redo_ = history.createRedoAction(&window, tr("&Redo"));
    redo_->setShortcuts({QKeySequence(tr("Ctrl+Shift+Z")), QKeySequence(tr("Ctrl+Y"))});
    window.addActions({undo_, redo_});
    clear_ = NewAction(window, tr("C&lear retouching"), {});
    connect(clear_, &QAction::triggered, this, [this] { session_.Retouch().Clear(); });
    smaller_ = NewAction(window, tr("S&maller brush"), {QKeySequence(tr("["))});
    larger_ = NewAction(window, tr("&Larger brush"), {QKeySequence(tr("]"))});
    connect(smaller_, &QAction::triggered, this, [this] { SetRadius(radius_ / RadiusStep); });
    connect(larger_, &QAction::triggered, this, [this] { SetRadius(radius_ * RadiusStep); });
    connect(&viewer_, &PictureViewer::BrushWheel, this,
            [this](int steps) { SetRadius(radius_ * std::pow(RadiusStep, steps)); });
    connect(&viewer_, &PictureViewer::StrokePoint, this, &RetouchTool::Paint);
    connect(&viewer_, &PictureViewer::StrokeEnded, this, [this] { session_.Retouch().EndStroke(); });
    connect(&session_, &StackSession::BrushReady, this, [this](int shot) {
        shot_ = shot;
        Describe();
    });
    // A new fusion paints the strokes again; the brush reads its shot from it anew.
    connect(&session_, &StackSession::SourceViewReady, this, [this] {
        if (active_ && shot_ >= 0)
            session_.ChooseBrushShot(shot_);
    });
    connect(&session_.Retouch(), &Retouching::Changed, &viewer_, &PictureViewer::UpdateRect);
}

void RetouchTool::PaintFrom(int shot)
{
    if (!session_.CanRetouch()) {
        toggle_->setChecked(active_);
        emit Message(session_.Busy() ? tr("Wait until the fusion has finished, then paint.")
                                     : tr("Open a focus stack first; once fused, its picture can be painted."));
        return;
    }
    if (shot < 0) {
        toggle_->setChecked(active_);
        emit Message(tr("Choose the shot to paint from first: click it in the strip or press its number, then R."));
        return;
    }
    const bool starting = !active_;
    active_ = true;
    toggle_->setChecked(true);
    viewer_.SetPaintMode(true);
    viewer_.SetBrushRadius(radius_);
    shot_ = -1;
    session_.ChooseBrushShot(shot);
    emit Message(tr("Reading shot %1 to paint from...").arg(shot + 1));
    if (starting)
        emit ActiveChanged(true);
}

void RetouchTool::Stop()
{
    if (!active_)
        return;
    session_.Retouch().EndStroke();
    active_ = false;
    toggle_->setChecked(false);
    viewer_.SetPaintMode(false);
    emit Message(tr("Retouching ended: %1 stroke(s) kept.").arg(session_.Retouch().Strokes().size()));
    emit ActiveChanged(false);
}

void RetouchTool::SetRadius(double radius)
{
    radius_ = std::clamp(std::round(radius * 10) / 10, 1.0, MaxBrushRadius);
    QSettings().setValue(RadiusSetting, radius_);
    viewer_.SetBrushRadius(active_ ? radius_ : 0.0);
    Describe();
}

void RetouchTool::Paint(QPointF point)
{
    if (!active_ || shot_ < 0 || !session_.CanRetouch()) {
        emit Message(shot_ < 0 && active_ ? tr("Wait a moment: the shot to paint from is being read.")
                                          : tr("The picture cannot be painted now."));
        return;
    }
    session_.Retouch().PaintTo({point.x(), point.y()}, radius_);
}

void RetouchTool::Describe()
{
    if (!active_ || shot_ < 0) {
        emit Message(tr("Brush: %1 pixels").arg(radius_));
        return;
    }
    const QString name = QFileInfo(QString::fromStdString(session_.Shots()[shot_].report.file)).fileName();
    emit Message(tr("Painting from shot %1 (%2), brush %3 pixels: drag on the picture. [ and ] size the brush, "
                    "Ctrl+Z undoes, R ends.").arg(shot_ + 1).arg(name).arg(radius_));
}
