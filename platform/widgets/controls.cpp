#include "controls.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

TButton::TButton(QWidget *parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] { emit OnClick(this); });
}

TForm::TForm(QWidget *parent) : QMainWindow(parent) {}

void TForm::ApplyTabOrder()
{
    QList<TButton *> buttons = findChildren<TButton *>();
    buttons.removeIf([](const TButton *button) { return button->TabOrder() < 0; });
    std::stable_sort(buttons.begin(), buttons.end(),
                     [](const TButton *a, const TButton *b) { return a->TabOrder() < b->TabOrder(); });
    for (qsizetype i = 1; i < buttons.size(); ++i)
        setTabOrder(buttons[i - 1], buttons[i]);
    if (!buttons.isEmpty())
        buttons.front()->setFocus();
}

void TForm::ShowFitted()
{
    const QScreen *screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        // Room for the title bar and borders, whose size is known only once the window is shown.
        const QSize frameAllowance(16, 48);
        const QSize room = screen->availableGeometry().size() - frameAllowance;
        resize(size().boundedTo(room));
    }
    show();
}
