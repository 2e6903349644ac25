// edgedom-window-bench: the speed of the window's widgets, on Qt's offscreen platform so that
// it needs no display and measures the painting code, not a screen. Kept apart from
// edgedom-bench, which links only QtGui.
#include "benchmarks.h"

#include <QApplication>

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    try {
        RegisterPictureViewerBenchmarks();
        if (benchmark::RunSpecifiedBenchmarks() == 0) {
            std::cerr << "edgedom-window-bench: no benchmark ran: the filter matches none, or the inputs are missing\n";
            return 1;
        }
    } catch (const std::exception &error) {
        std::cerr << "edgedom-window-bench: " << error.what() << "\n";
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
