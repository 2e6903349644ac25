#include "pipeline.h"

#include "dominance.h"
#include "edge_strength.h"
#include "output_files.h"
#include "picture.h"
#include "region_map.h"
#include "retouch.h"
#include "stack_file.h"
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

// The outputs of a command on shotCount shots, each with its place in the OutputSet.
struct Outputs {
    std::vector<OutputTarget> targets;
    std::size_t firstEdgeMap = 0, dominance = 0, regions = 0, fused = 0, sourceMap = 0;

    Outputs(const CliOptions &options, std::size_t shotCount)
    {
        firstEdgeMap = targets.size();
        if (!options.edgeMapsDir.empty())
            for (std::size_t i = 0; i < shotCount; ++i)
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
    ShotMaps(const CliOptions &options, const std::string &firstShot, const Outputs &outputs, OutputSet &written,
             StackProgress &progress)
        : options_(options), firstShot_(fs::path(firstShot).filename().string()), outputs_(outputs), written_(written),
          progress_(progress)
    {
    }

    void Stage(StackStage stage, int index, int count, const std::string &file) override
    {
        progress_.Shot(stage, index, count, file);
    }

    void ShotReported(int, const ShotReport &shot) override
    {
        if (shot.move)
            progress_.Note("aligned " + fs::path(shot.file).filename().string() + " onto " + firstShot_ + ": "
                           + MoveText(*shot.move));
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
    const std::string firstShot_;
    const Outputs &outputs_;
    OutputSet &written_;
    StackProgress &progress_;
    std::optional<DominanceFold> dominance_;
};

// The shots, alignment and strokes of a stack file, or the pictures of the command line.
StackFile StackToRender(const CliOptions &options)
{
    if (options.stackFile.empty())
        return {options.pictures, options.align, {}};
    StackFile stack = ReadStackFile(options.stackFile);
    const auto count = static_cast<int>(stack.shots.size());
    if (!options.regionsFile.empty() && count > MaxRegionClasses)
        throw Exception("Cannot write the region map of " + options.stackFile + ": --regions paints one grey per shot "
                        "and tells at most " + std::to_string(MaxRegionClasses) + " apart, and the stack has "
                        + std::to_string(count) + " shots.");
    return stack;
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

void RunOnStack(const CliOptions &options, const StackFile &input, std::ostream &messages, StackProgress &progress,
                std::stop_token stop)
{
    const Outputs outputs(options, input.shots.size());
    OutputSet written(outputs.targets);
    ShotMaps maps(options, input.shots[0], outputs, written, progress);
    const bool sourceMap = !options.sourceMapFile.empty(), fuse = !options.fusedFile.empty() || sourceMap;
    StackResult stack = FuseStack(
        input.shots, {.align = input.align, .fuse = fuse, .sourceMap = sourceMap, .metadata = !options.noMetadata},
        maps, std::move(stop));
    if (fuse)
        ApplyRetouch(stack, input.retouch);
    progress.Clear();
    // The fusion's and the fused picture's save's; printed once every output is in place.
    std::vector<std::string> warnings = std::move(stack.warnings);

    // The fused picture is saved first, while the maps are made, and the dominance fold's
    // state goes as soon as its result is out.
    if (!options.fusedFile.empty()) {
        auto fused = std::make_shared<TPicture>(std::move(stack.fused));
        PictureSaveOptions save{.jpegQuality = options.jpegQuality};
        save.metadataWarning = [&warnings, &options, first = stack.shots[stack.reference].file](const std::string &why) {
            warnings.push_back("The metadata of " + first + " could not be written into " + options.fusedFile + " ("
                               + why + "). The fused picture is written without it.");
        };
        written.Write(outputs.fused, [fused, save](const std::string &file) { fused->SaveToFile(file, save); });
    }
    if (std::optional<DominanceFold> &dominance = maps.Dominance()) {
        TPicture map;
        map.Bitmap() = dominance->Result();
        dominance.reset();
        if (options.RegionStepRuns()) {
            TPicture regions;
            // The region step leaves the pixels of the (already 24-bit) dominance map as they are.
            ComputeRegionMap(map.Bitmap(), regions.Bitmap(), PrintTo(messages), {},
                             static_cast<int>(input.shots.size()));
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
    for (const std::string &warning : warnings)
        progress.Warn(warning);
}

void ComputeAndSaveMaps(const CliOptions &options, std::ostream &messages, StackProgress &progress,
                        std::stop_token stop)
{
    if (!options.fromDominance.empty())
        RunOnDominanceMap(options, messages);
    else
        RunOnStack(options, StackToRender(options), messages, progress, std::move(stop));
}
