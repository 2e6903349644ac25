// edgedom's window: start the application, create the main form, load the pictures named
// on the command line (edgedom [PICTURE1 [PICTURE2 [PICTURE3]]], as a file manager opens
// them) and run it. An error that escapes start-up is shown in an error box; the program
// then ends normally.
#include "Unit1.h"
#include "application.h"

int main(int argc, char *argv[])
{
    try {
        Application->Initialize();
        Application->CreateForm(&Form1);
        Form1->OpenPictures(std::vector<std::string>(argv + 1, argv + argc));
        Application->Run();
    } catch (...) {
        Application->ShowException(CurrentExceptionAsException());
    }
    return 0;
}
