// Makes the pictures of the windows shown in the README, grabbed into PNGs; scripts/screenshot
// runs it under Xvfb.
//   edgedom-screenshot PICTURE1 PICTURE2 PICTURE3 OUTPUT.png
//     the real form after a whole session (Picture1 to Picture3, Add, Process, Fuse) with the
//     dialogs answered by script, the all-in-focus picture shown and the mouse over it;
//   edgedom-screenshot --stack FOLDER OUTPUT.png
//     the stack window once it has fused the shots of the folder, aligned, the mouse over the
//     picture (the choice to align is kept in the settings, as the window keeps it).
#include "Unit1.h"
#include "dialogs.h"
#include "picture_viewer.h"
#include "stack_window.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
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

// The mouse moved to the middle of widget, so that the status bar describes the pixel there.
void PointAtTheMiddle(QWidget *widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    QMouseEvent move(QEvent::MouseMove, centre, widget->mapToGlobal(centre), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QApplication::processEvents();
}

int Save(QWidget &window, const char *file)
{
    if (!window.grab().save(QString::fromLocal8Bit(file))) {
        std::cerr << "edgedom-screenshot: cannot write " << file << '\n';
        return 1;
    }
    return 0;
}

int StackWindowPicture(const char *folder, const char *output)
{
    ScriptedSession session;
    SetUserDialogs(&session);
    StackWindow window;
    window.resize(1280, 800);
    window.show();
    QEventLoop fused;
    QObject::connect(&window.Session(), &StackSession::SourceViewReady, &fused, &QEventLoop::quit);
    QObject::connect(&window.Session(), &StackSession::FusionFailed, &fused, &QEventLoop::quit);
    window.findChild<QAction *>(QStringLiteral("alignAction"))->setChecked(true);
    window.OpenStack({folder});
    fused.exec();
    PointAtTheMiddle(&window.Viewer());
    SetUserDialogs(nullptr);
    return session.failed || window.Session().Result() == nullptr ? 1 : Save(window, output);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::string(argv[1]) == "--stack") {
        QApplication application(argc, argv);
        return StackWindowPicture(argv[2], argv[3]);
    }
    if (argc != 5) {
        std::cerr << "usage: edgedom-screenshot PICTURE1 PICTURE2 PICTURE3 OUTPUT.png\n"
                     "       edgedom-screenshot --stack FOLDER OUTPUT.png\n";
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

    PointAtTheMiddle(form.Image6->widget());
    SetUserDialogs(nullptr);
    return session.failed ? 1 : Save(form, argv[4]);
}
