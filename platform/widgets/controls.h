// The form and the push button of the window: Qt widgets under the names the program uses.
// A button's OnClick signal hands the button, as the sender, to the handler the form file
// binds to it.
#pragma once

#include <QMainWindow>
#include <QPushButton>

using TObject = QObject;

class TButton : public QPushButton {
    Q_OBJECT

public:
    explicit TButton(QWidget *parent = nullptr);

signals:
    void OnClick(TObject *Sender);
};

class TForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm(QWidget *parent = nullptr);

    // Shows the form at its designed size, shrunk where the screen's free area is smaller.
    void ShowFitted();
};
