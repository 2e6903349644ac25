// edgedom-bench: registers the benchmarks whose inputs are there, checks once that every
// OpenCV peer gives our bytes, then runs what Google Benchmark's flags select.
#include "benchmarks.h"

#ifdef EDGEDOM_WITH_OPENCV
#include "opencv_peers.h"
#endif

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    try {
#ifdef EDGEDOM_WITH_OPENCV
        cv::setNumThreads(1);
        if (!CheckPeersGiveOurBytes(std::cerr))
            return 1;
#endif
        RegisterEdgeStrengthBenchmarks();
        RegisterDominanceBenchmarks();
        RegisterRegionMapBenchmarks();
        RegisterPictureLoadBenchmarks();
        RegisterPngWriteBenchmarks();
        RegisterPngReadBenchmarks();
        RegisterFocusStackBenchmarks();
        RegisterBrushStrokeBenchmarks();
        if (benchmark::RunSpecifiedBenchmarks() == 0) {
            std::cerr << "edgedom-bench: no benchmark ran: the filter matches none, or the inputs are missing\n";
            return 1;
        }
    } catch (const std::exception &error) {
        std::cerr << "edgedom-bench: " << error.what() << "\n";
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
