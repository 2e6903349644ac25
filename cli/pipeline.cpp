#include "pipeline.h"

#include "dominance.h"
#include "edge_strength.h"
#include "exception.h"
#include "output_files.h"
#include "picture.h"
#include "region_map.h"

#include <array>
#include <filesystem>
#include <future>
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

// Reads the three pictures at once, each on a thread of its own, and turns each into its
// 8-bit edge map as soon as it is read, so that a picture is held in full colour only
// while it is decoded. Decoding takes most of the command's time. A failure is reported
// for the first picture, in command-line order, that failed.
std::array<TPicture, 3> LoadEdgeMaps(const std::vector<std::string> &files)
{
    std::array<TPicture, 3> edgeMaps;
    std::array<std::future<void>, 3> loads;
    for (int i = 0; i < 3; ++i)
        loads[i] = std::async(std::launch::async, [&edgeMaps, &files, i] {
            edgeMaps[i].LoadFromFile(files[i]);
            ComputeEdgeStrengthMap(edgeMaps[i].Bitmap());
        });
    for (std::future<void> &load : loads)
        load.wait();
    for (std::future<void> &load : loads)
        load.get();
    return edgeMaps;
}

void RunOnPictures(const CliOptions &options, std::ostream &messages)
{
    std::array<TPicture, 3> edgeMaps = LoadEdgeMaps(options.pictures);

    TPicture dominance, regions;
    dominance.Bitmap() = DominanceOf(edgeMaps, options.pictures);
    // The region step leaves the pixels of the (already 24-bit) dominance map as they are.
    ComputeRegionMap(dominance.Bitmap(), regions.Bitmap(), PrintTo(messages));

    std::vector<OutputFile> outputs;
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

void RunOnDominanceMap(const CliOptions &options, std::ostream &messages)
{
    TPicture dominance, regions;
    dominance.LoadFromFile(options.fromDominance);
    ComputeRegionMap(dominance.Bitmap(), regions.Bitmap(), PrintTo(messages));
    if (!options.regionsFile.empty())
        SaveAllOrNone({{options.regionsFile, &regions}});
}

} // namespace

void ComputeAndSaveMaps(const CliOptions &options, std::ostream &messages)
{
    if (!options.fromDominance.empty())
        RunOnDominanceMap(options, messages);
    else
        RunOnPictures(options, messages);
}
