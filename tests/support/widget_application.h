// The Qt widget application the window's tests run in.
#pragma once

#include <QApplication>

// Made on first use and kept to the end of the test program.
inline void EnsureWidgetApplication()
{
    static int argc = 1;
    static char name[] = "window-tests";
    static char *argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr)
        new QApplication(argc, argv);
}
