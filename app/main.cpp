// edgedom's windows: start the application, then open what the command line names (as a file
// manager does with the files opened with it): one to three pictures load into Form1, the
// three-picture window; more shots, one folder of them or a stack file open in the stack window,
// which fuses them. Without arguments Form1 opens. An error that escapes start-up is shown in an error box;
// the program then ends normally.
#include "Unit1.h"
#include "application.h"
#include "stack_file.h"
#include "stack_window.h"

#include <QFileInfo>

namespace {

// Whether the command line names a stack rather than Form1's pictures: more than three shots, a
// folder of them, or a stack file.
bool NamesAStack(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 1)
        return arguments.size() > 3;
    const QFileInfo only(QString::fromStdString(arguments[0]));
    return only.isDir() || only.suffix().toLower() == QLatin1String(StackFileExtension);
}

} // namespace

int main(int argc, char *argv[])
{
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        Application->Initialize();
        if (NamesAStack(arguments)) {
            ShowStackWindow().OpenStack(arguments);
        } else {
            Application->CreateForm(&Form1);
            Form1->OpenPictures(arguments);
        }
        Application->Run();
    } catch (...) {
        Application->ShowException(CurrentExceptionAsException());
    }
    return 0;
}
