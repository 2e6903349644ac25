// The strip of a stack's shots beside the viewer: each shot's thumbnail, file name, size and
// state (waiting, read, aligned with the move found, or left out with the reason). Clicking a shot
// asks for it to be shown.
#pragma once

#include "stack_session.h"

#include <QListWidget>

class ShotStrip : public QListWidget {
    Q_OBJECT

public:
    explicit ShotStrip(QWidget *parent = nullptr);

    // One entry per shot of the session, in its order.
    void ShowShots(const std::vector<StackSession::Shot> &shots);
    // Brings entry index up to date.
    void ShowShot(int index, const StackSession::Shot &shot);
    // Marks the shot shown in the viewer; -1 for none (the fused picture or the source map).
    void MarkShown(int index);

    // The line of state under a shot's name, as the strip shows it.
    static QString StateText(const ShotReport &report);

signals:
    void ShotChosen(int index);
};
