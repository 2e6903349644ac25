#include "pipeline.h"

#include "dominance.h"
#include "edge_strength.h"
#include "output_files.h"
#include "picture.h"
#include "region_map.h"
#include "stack_fusion.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

ShowMessageFn PrintTo(std::ostream &messages)
{
    return [&messages](const std::string &message) { messages << message << std::endl; };
}

// The outputs of a command, each with its place in the OutputSet.
struct Outputs {
    std::vector<OutputTarget> targets;
    std::size_t firstEdgeMap = 0, dominance = 0, regions = 0, fused = 0, sourceMap = 0;

    explicit Outputs(const CliOptions &options)
    {
        firstEdgeMap = targets.size();
        if (!options.edgeMapsDir.empty())
            for (std::size_t i = 0; i < options.pictures.size(); ++i)
                targets.push_back({fs::path(options.edgeMapsDir) / ("edge" + std::to_string(i + 1) + ".png"), true});
        dominance = Add(options.dominanceFile);
        regions = Add(options.regionsFile);
        fused = Add(options.fusedFile);
        sourceMap = Add(options.sourceMapFile);
    }

    std::size_t Add(const std::string &file)
    {
        if (!file.empty())
            targets.push_back({file});
        return file.empty() ? SIZE_MAX : targets.size() - 1;
    }
};

OutputSet::SaveFn SaveMap(TPicture map)
{
    return [map = std::make_shared<const TPicture>(std::move(map))](const std::string &file) { map->SaveToFile(file); };
}

// The maps made of each shot as the fusion passes it on: its edge strength map, written at once,
// and the dominance map, folded in.
class ShotMaps : public StackObserver {
public:
    ShotMaps(const CliOptions &options, const Outputs &outputs, OutputSet &written, ProgressReport &progress)
        : options_(options), outputs_(outputs), written_(written), progress_(progress)
    {
    }

    void Stage(StackStage stage, int index, int count, const std::string &file) override
    {
        if (stage == StackStage::Reading)
            progress_.Picture(options_.fusedFile.empty() ? "reading" : "fusing", index + 1, count, file);
    }

    void ShotReported(int, const ShotReport &shot) override
    {
        if (shot.move)
            progress_.Note("aligned " + fs::path(shot.file).filename().string() + " onto "
                           + fs::path(options_.pictures[0]).filename().string() + ": " + MoveText(*shot.move));
    }

    void ShotFolded(int index, TPicture &shot, const TBitmap *coverage) override
    {
        const bool dominanceWanted = !options_.dominanceFile.empty() || options_.RegionStepRuns();
        if (!dominanceWanted && options_.edgeMapsDir.empty())
            return;
        TBitmap &bitmap = shot.Bitmap();
        if (dominanceWanted && !dominance_)
            dominance_.emplace(bitmap.Width(), bitmap.Height());
        ComputeEdgeStrengthMap(bitmap);
        if (coverage != nullptr)
            ClearUncoveredEdges(bitmap, *coverage);
        if (dominance_)
            dominance_->Add(bitmap, coverage);
        if (!options_.edgeMapsDir.empty())
            written_.Write(outputs_.firstEdgeMap + static_cast<std::size_t>(index), SaveMap(std::move(shot)));
    }

    std::optional<DominanceFold> &Dominance() { return dominance_; }

private:
    const CliOptions &options_;
    const Outputs &outputs_;
    OutputSet &written_;
    ProgressReport &progress_;
    std::optional<DominanceFold> dominance_;
};

void RunOnPictures(const CliOptions &options, std::ostream &messages, ProgressReport &progress)
{
    const Outputs outputs(options);
    OutputSet written(outputs.targets);
    ShotMaps maps(options, outputs, written, progress);
    const bool sourceMap = !options.sourceMapFile.empty();
    StackResult stack = FuseStack(
        options.pictures, {.align = options.align, .fuse = !options.fusedFile.empty() || sourceMap, .sourceMap = sourceMap},
        maps);
    progress.Clear();

    // The fused picture is saved first, while the maps are made, and the dominance fold's
    // state goes as soon as its result is out.
    if (!options.fusedFile.empty()) {
        auto fused = std::make_shared<TPicture>(std::move(stack.fused));
        written.Write(outputs.fused, [fused, quality = options.jpegQuality](const std::string &file) {
            fused->SaveToFile(file, PictureSaveOptions{.jpegQuality = quality});
        });
    }
    if (std::optional<DominanceFold> &dominance = maps.Dominance()) {
        TPicture map;
        map.Bitmap() = dominance->Result();
        dominance.reset();
        if (options.RegionStepRuns()) {
            TPicture regions;
            // The region step leaves the pixels of the (already 24-bit) dominance map as they are.
            ComputeRegionMap(map.Bitmap(), regions.Bitmap(), PrintTo(messages), {},
                             static_cast<int>(options.pictures.size()));
            if (!options.regionsFile.empty())
                written.Write(outputs.regions, SaveMap(std::move(regions)));
        }
        if (!options.dominanceFile.empty())
            written.Write(outputs.dominance, SaveMap(std::move(map)));
    }
    if (sourceMap) {
        TPicture sources;
        sources.Bitmap() = std::move(stack.sourceMap);
        written.Write(outputs.sourceMap, SaveMap(std::move(sources)));
    }
    written.Commit();
}

void RunOnDominanceMap(const CliOptions &options, std::ostream &messages)
{
    OutputSet written(options.regionsFile.empty() ? std::vector<OutputTarget>{}
                                                  : std::vector<OutputTarget>{{options.regionsFile}});
    TPicture dominance, regions;
    dominance.LoadFromFile(options.fromDominance);
    ComputeRegionMap(dominance.Bitmap(), regions.Bitmap(), PrintTo(messages));
    if (!options.regionsFile.empty())
        written.Write(0, SaveMap(std::move(regions)));
    written.Commit();
}

} // namespace

void ComputeAndSaveMaps(const CliOptions &options, std::ostream &messages, ProgressReport &progress)
{
    if (!options.fromDominance.empty())
        RunOnDominanceMap(options, messages);
    else
        RunOnPictures(options, messages, progress);
}
