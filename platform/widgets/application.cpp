#include "application.h"

#include "dialogs.h"

#include <QApplication>
#include <QCursor>

#include <new>

namespace {

TApplication theApplication;

// Qt keeps references to argc and argv for the application's life; the program's own
// command line names pictures (main passes them to the form), so Qt sees only the program name.
int qtArgumentCount = 1;
char programName[] = "edgedom";
char *qtArguments[] = {programName, nullptr};

} // namespace

TApplication *Application = &theApplication;

TApplication::TApplication() = default;

// Forms and a Qt application still alive here (an exception left Run early) are left to the
// end of the process: Qt's own static objects, which their destructors use, may be gone.
TApplication::~TApplication()
{
    for (std::unique_ptr<TForm> &form : forms_)
        static_cast<void>(form.release());
    static_cast<void>(qt_.release());
}

void TApplication::Initialize()
{
    if (qt_)
        return;
    qt_ = std::make_unique<QApplication>(qtArgumentCount, qtArguments);
    QApplication::setApplicationName(QStringLiteral("edgedom"));
    QApplication::setOrganizationName(QStringLiteral("edgedom")); // where QSettings keeps choices
}

void TApplication::Adopt(std::unique_ptr<TForm> form) { forms_.push_back(std::move(form)); }

void TApplication::Run()
{
    if (!forms_.empty())
        forms_.front()->ShowFitted();
    QApplication::exec();
    // The forms and the Qt application end here, while the static objects of Qt that their
    // destructors use still exist.
    forms_.clear();
    qt_.reset();
}

void TApplication::ShowException(const Exception &exception) { CurrentUserDialogs().Error(exception.Message()); }

Exception CurrentExceptionAsException()
{
    try {
        throw;
    } catch (const Exception &exception) {
        return exception;
    } catch (const std::bad_alloc &) {
        return Exception("Out of memory: the command needed more memory than the computer could give. "
                         "Close other programs or use smaller pictures, then try again.");
    } catch (const std::exception &exception) {
        return Exception(std::string("Unexpected error: ") + exception.what());
    } catch (...) {
        return Exception("Unexpected error of an unknown kind.");
    }
}

BusyCursor::BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
