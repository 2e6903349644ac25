// The stack window's retouching brush: R (or its button) switches it on and off, the shot chosen in
// the strip, or with the number and arrow keys, is the one it paints from, [ and ] or Ctrl with the
// wheel size it (1 to 500 picture pixels, remembered), Ctrl+Z and Ctrl+Shift+Z or Ctrl+Y undo and
// redo strokes. It passes the viewer's strokes to the session's retouching, which paints live.
#pragma once

#include <QObject>
#include <QString>

class PictureViewer;
class QAction;
class QWidget;
class StackSession;

class RetouchTool : public QObject {
    Q_OBJECT

public:
    RetouchTool(StackSession &session, PictureViewer &viewer, QWidget &window);

    // R: the window decides which shot it starts painting from.
    QAction *Toggle() const noexcept { return toggle_; }
    QAction *Undo() const noexcept { return undo_; }
    QAction *Redo() const noexcept { return redo_; }
    QAction *Clear() const noexcept { return clear_; }
    QAction *Smaller() const noexcept { return smaller_; }
    QAction *Larger() const noexcept { return larger_; }

    bool Active() const noexcept { return active_; }
    // Starts painting from shot, or, while painting, makes shot the one painted from. A shot of
    // -1 asks the user to choose one.
    void PaintFrom(int shot);
    // Stops painting; the strokes stay.
    void Stop();
    // The shot the brush paints from, -1 before one is ready.
    int Shot() const noexcept { return shot_; }

signals:
    // What the status bar should say.
    void Message(const QString &text);
    // Painting started or stopped.
    void ActiveChanged(bool active);

private:
    void SetRadius(double radius);
    void Paint(QPointF point);
    void Describe();

    StackSession &session_;
    PictureViewer &viewer_;
    QAction *toggle_, *undo_, *redo_, *clear_, *smaller_, *larger_;
    bool active_ = false;
    int shot_ = -1;
    double radius_;
};
