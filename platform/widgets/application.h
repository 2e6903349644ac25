// TApplication: the program's one Qt application. main initialises it, creates the main
// form and runs the event loop; an error that reaches it, from start-up or from a command,
// is shown in an error box rather than crossing Qt's event loop.
#pragma once

#include "controls.h"
#include "exception.h"

#include <iostream>
#include <memory>
#include <vector>

class QApplication;

class TApplication {
public:
    TApplication();
    ~TApplication();

    // Starts the Qt application (the command line is not passed on to Qt: it names pictures).
    // Called once, first.
    void Initialize();

    // Creates a form of class FormClass into *reference; the first form created is the
    // main one, which Run shows. The application owns its forms.
    template <class FormClass>
    void CreateForm(FormClass **reference)
    {
        auto form = std::make_unique<FormClass>();
        *reference = form.get();
        Adopt(std::move(form));
    }

    // Shows the main form and handles events until the last window closes; then closes the
    // forms and the Qt application.
    void Run();

    // Shows the exception's message in an error box (on the standard error stream when
    // there is no window system).
    void ShowException(const Exception &exception);

private:
    void Adopt(std::unique_ptr<TForm> form);

    std::unique_ptr<QApplication> qt_;
    std::vector<std::unique_ptr<TForm>> forms_;
};

extern TApplication *Application;

// The exception being handled (call only inside a catch block) as an Exception whose
// message says what went wrong: an Exception as it is, std::bad_alloc as running out of
// memory, another std::exception by its what(), anything else as an unknown error.
Exception CurrentExceptionAsException();

// Runs command; an exception it raises is shown by Application->ShowException and goes no
// further, so that the window stays usable.
template <class Command>
void RunGuarded(Command &&command) noexcept
{
    try {
        command();
    } catch (...) {
        try {
            Application->ShowException(CurrentExceptionAsException());
        } catch (...) {
            std::cerr << "An error occurred, and showing it failed too.\n";
        }
    }
}

// The wait cursor over the whole application while the object lives.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
