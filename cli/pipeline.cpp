#include "pipeline.h"

#include "dominance.h"
#include "edge_strength.h"
#include "exception.h"
#include "output_files.h"
#include "picture.h"
#include "region_map.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace {

ShowMessageFn PrintTo(std::ostream &messages)
{
    return [&messages](const std::string &message) { messages << message << std::endl; };
}

// The dominance map of three edge strength maps; a size mismatch is reported with the
// names of the picture files.
TBitmap DominanceOf(const std::array<TPicture, 3> &edgeMaps, const std::vector<std::string> &files)
{
    try {
        return ComputeDominanceMap(edgeMaps[0].Bitmap(), edgeMaps[1].Bitmap(), edgeMaps[2].Bitmap());
    } catch (const Exception &failure) {
        throw Exception("Cannot compare " + files[0] + ", " + files[1] + " and " + files[2] + ": "
                        + failure.Message());
    }
}

void RunOnPictures(const TCliOptions &options, std::ostream &messages)
{
    // Each picture becomes its 8-bit edge map as soon as it is read, so that only one
    // picture is held in full colour at a time.
    std::array<TPicture, 3> edgeMaps;
    for (int i = 0; i < 3; ++i) {
        edgeMaps[i].LoadFromFile(options.pictures[i]);
        ComputeEdgeStrengthMap(edgeMaps[i].Bitmap());
    }

    TPicture dominance, regions;
    dominance.Bitmap() = DominanceOf(edgeMaps, options.pictures);
    // The region step leaves the pixels of the (already 24-bit) dominance map as they are.
    ComputeRegionMap(dominance.Bitmap(), regions.Bitmap(), PrintTo(messages));

    std::vector<TOutputFile> outputs;
    if (!options.edgeMapsDir.empty())
        for (int i = 0; i < 3; ++i)
            outputs.push_back({std::filesystem::path(options.edgeMapsDir) / ("edge" + std::to_string(i + 1) + ".png"),
                               &edgeMaps[i], true});
    if (!options.dominanceFile.empty())
        outputs.push_back({options.dominanceFile, &dominance});
    if (!options.regionsFile.empty())
        outputs.push_back({options.regionsFile, &regions});
    SaveAllOrNone(outputs);
}

void RunOnDominanceMap(const TCliOptions &options, std::ostream &messages)
{
    TPicture dominance, regions;
    dominance.LoadFromFile(options.fromDominance);
    ComputeRegionMap(dominance.Bitmap(), regions.Bitmap(), PrintTo(messages));
    if (!options.regionsFile.empty())
        SaveAllOrNone({{options.regionsFile, &regions}});
}

} // namespace

void RunCommand(const TCliOptions &options, std::ostream &messages)
{
    if (!options.fromDominance.empty())
        RunOnDominanceMap(options, messages);
    else
        RunOnPictures(options, messages);
}
