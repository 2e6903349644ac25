// Makes the picture of the window shown in the README: the real form after a whole session
// (Picture1 to Picture3, Add, Process) with the dialogs answered by script and the mouse over
// the dominance map, grabbed into a PNG. scripts/screenshot runs it under Xvfb.
//   window_screenshot PICTURE1 PICTURE2 PICTURE3 OUTPUT.png
#include "Unit1.h"
#include "window_test_support.h"

#include <QMouseEvent>

#include <iostream>

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::cerr << "usage: window_screenshot PICTURE1 PICTURE2 PICTURE3 OUTPUT.png\n";
        return 2;
    }
    QApplication application(argc, argv);
    ScriptedDialogs dialogs;
    TForm1 form;
    form.resize(1023, 697);
    form.show();
    for (int k = 1; k <= 3; ++k)
        dialogs.openAnswers.push_back(argv[k]);
    for (TButton *button : {form.Button1, form.Button2, form.Button3, form.Button5, form.Button6})
        button->click();
    QApplication::processEvents();

    QWidget *canvas = form.Image4->widget();
    const QPointF centre = QRectF(canvas->rect()).center();
    QMouseEvent move(QEvent::MouseMove, centre, canvas->mapToGlobal(centre), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QApplication::processEvents();

    for (const std::string &error : dialogs.errors)
        std::cerr << "window_screenshot: " << error << '\n';
    if (!dialogs.errors.empty())
        return 1;
    if (!form.grab().save(QString::fromLocal8Bit(argv[4]))) {
        std::cerr << "window_screenshot: cannot write " << argv[4] << '\n';
        return 1;
    }
    return 0;
}
