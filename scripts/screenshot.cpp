// Makes the picture of the window shown in the README: the real form after a whole session
// (Picture1 to Picture3, Add, Process, Fuse) with the dialogs answered by script, the
// all-in-focus picture shown and the mouse over it, grabbed into a PNG. scripts/screenshot
// runs it under Xvfb.
//   edgedom-screenshot PICTURE1 PICTURE2 PICTURE3 OUTPUT.png
#include "Unit1.h"
#include "dialogs.h"

#include <QApplication>
#include <QMouseEvent>

#include <deque>
#include <iostream>

namespace {

// Answers the open dialogs with the pictures in turn, lets the messages pass and prints
// the errors.
class ScriptedSession final : public UserDialogs {
public:
    std::optional<std::string> ChooseOpenFile(const std::string &, const std::string &, const std::string &) override
    {
        if (pictures.empty())
            return std::nullopt;
        std::string next = pictures.front();
        pictures.pop_front();
        return next;
    }
    std::optional<std::string> ChooseSaveFile(const std::string &, const std::string &, const std::string &) override
    {
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> ChooseOpenFiles(const std::string &, const std::string &,
                                                            const std::string &) override
    {
        return std::nullopt;
    }
    std::optional<std::string> ChooseFolder(const std::string &, const std::string &) override { return std::nullopt; }
    void Message(const std::string &) override {}
    void Error(const std::string &text) override
    {
        std::cerr << "edgedom-screenshot: " << text << '\n';
        failed = true;
    }

    std::deque<std::string> pictures;
    bool failed = false;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::cerr << "usage: edgedom-screenshot PICTURE1 PICTURE2 PICTURE3 OUTPUT.png\n";
        return 2;
    }
    QApplication application(argc, argv);
    ScriptedSession session;
    session.pictures = {argv[1], argv[2], argv[3]};
    SetUserDialogs(&session);
    TForm1 form;
    form.resize(1023, 697);
    form.show();
    for (TButton *button : {form.Button1, form.Button2, form.Button3, form.Button5, form.Button6, form.Button7})
        button->click();
    QApplication::processEvents();

    QWidget *canvas = form.Image6->widget();
    const QPointF centre = QRectF(canvas->rect()).center();
    QMouseEvent move(QEvent::MouseMove, centre, canvas->mapToGlobal(centre), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QApplication::processEvents();
    SetUserDialogs(nullptr);

    if (session.failed)
        return 1;
    if (!form.grab().save(QString::fromLocal8Bit(argv[4]))) {
        std::cerr << "edgedom-screenshot: cannot write " << argv[4] << '\n';
        return 1;
    }
    return 0;
}
