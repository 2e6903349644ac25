#include "controls.h"

#include <QGuiApplication>
#include <QScreen>

TButton::TButton(QWidget *parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] { emit OnClick(this); });
}

TForm::TForm(QWidget *parent) : QMainWindow(parent) {}

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
