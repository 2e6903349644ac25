// The form and the push button of the window: Qt widgets under the names the program uses.
// A button's Caption is its text, its TabOrder its place in the form's tab chain, and its
// OnClick signal hands the button, as the sender, to the handler the form file binds to it.
#pragma once

#include <QMainWindow>
#include <QPushButton>
#include <QString>

using TObject = QObject;

class TButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int TabOrder READ TabOrder WRITE SetTabOrder)

public:
    explicit TButton(QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }

    // The button's place in the tab chain that TForm::ApplyTabOrder builds; -1 (the default)
    // leaves it out.
    int TabOrder() const noexcept { return tabOrder_; }
    void SetTabOrder(int order) noexcept { tabOrder_ = order; }

signals:
    void OnClick(TObject *Sender);

private:
    int tabOrder_ = -1;
};

class TForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm(QWidget *parent = nullptr);

    // Chains the form's buttons for the Tab key in ascending TabOrder, buttons without one
    // left where they are, and gives the first of them the keyboard focus.
    void ApplyTabOrder();

    // Shows the form at its designed size, shrunk where the screen's free area is smaller.
    void ShowFitted();
};
