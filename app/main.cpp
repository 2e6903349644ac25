// edgedom's window: start the application, create the main form and run it. An error that
// escapes start-up is shown in an error box; the program then ends normally.
#include "Unit1.h"
#include "application.h"

int main()
{
    try {
        Application->Initialize();
        Application->CreateForm(&Form1);
        Application->Run();
    } catch (...) {
        Application->ShowException(CurrentExceptionAsException());
    }
    return 0;
}
