#include "pipeline.h"

#include "alignment.h"
#include "dominance.h"
#include "edge_strength.h"
#include "exception.h"
#include "focus_stack.h"
#include "output_files.h"
#include "picture.h"
#include "region_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Pictures decoded ahead of the one being folded. Decoding takes most of a command's time;
// with two ahead both cores decode while the fold runs, and a picture of three bytes a pixel
// waits in memory for each.
constexpr int PicturesReadAhead = 2;

ShowMessageFn PrintTo(std::ostream &messages)
{
    return [&messages](const std::string &message) { messages << message << std::endl; };
}

std::string SizeText(const PictureHeader &info)
{
    return std::to_string(info.width) + " x " + std::to_string(info.height) + " pixels";
}

// Every picture's header, read before any picture is decoded, so that pictures that do not
// fit together are refused at once; the first picture sets the size of every output.
std::vector<PictureHeader> ProbeAll(const std::vector<std::string> &files)
{
    std::vector<PictureHeader> infos;
    for (const std::string &file : files)
        infos.push_back(TPicture::Probe(file));
    for (std::size_t i = 1; i < infos.size(); ++i)
        if (infos[i].width < infos[0].width || infos[i].height < infos[0].height)
            throw Exception("Cannot compare " + files[i] + " with " + files[0] + ": it is " + SizeText(infos[i])
                            + ", smaller than the first picture (" + SizeText(infos[0])
                            + "). The pictures are compared pixel by pixel: give pictures of the same size "
                              "(of a larger one the top-left part is used).");
    return infos;
}

// Reads the pictures in order, each on a thread of its own, up to PicturesReadAhead ahead of
// the one taken. A failure is raised when its picture is taken, so the first picture in
// command-line order that cannot be read is the one reported.
class PictureReader {
public:
    PictureReader(const std::vector<std::string> &files, PictureDepth depth) : files_(files), depth_(depth) {}

    TPicture Take(std::size_t index)
    {
        while (next_ < files_.size() && next_ <= index + PicturesReadAhead) {
            loads_.push_back(std::async(std::launch::async, [file = files_[next_], depth = depth_] {
                TPicture picture;
                picture.LoadFromFile(file, depth);
                return picture;
            }));
            ++next_;
        }
        TPicture picture = loads_.front().get();
        loads_.pop_front();
        return picture;
    }

private:
    const std::vector<std::string> &files_;
    PictureDepth depth_;
    std::size_t next_ = 0;
    std::deque<std::future<TPicture>> loads_;
};

bool SavesSixteenBits(const fs::path &file)
{
    const std::string extension = file.extension().string();
    return extension == ".png" || extension == ".tif" || extension == ".tiff";
}

// The outputs of a command, each with its place in the OutputSet.
struct Outputs {
    std::vector<OutputTarget> targets;
    std::size_t firstEdgeMap = 0, dominance = 0, regions = 0, fused = 0;

    explicit Outputs(const CliOptions &options)
    {
        firstEdgeMap = targets.size();
        if (!options.edgeMapsDir.empty())
            for (std::size_t i = 0; i < options.pictures.size(); ++i)
                targets.push_back({fs::path(options.edgeMapsDir) / ("edge" + std::to_string(i + 1) + ".png"), true});
        dominance = Add(options.dominanceFile);
        regions = Add(options.regionsFile);
        fused = Add(options.fusedFile);
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

// The pixel format of the fused picture: grey when every picture is grey, 16 bits per
// channel when every picture has them and the file keeps them, else 8-bit colour.
TPixelFormat FusedFormat(const std::vector<PictureHeader> &infos, bool sixteenBits)
{
    if (sixteenBits)
        return pf48bit;
    const bool grey = std::all_of(infos.begin(), infos.end(), [](const PictureHeader &info) { return info.grey; });
    return grey ? pf8bit : pf24bit;
}

std::string Signed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.*f", decimals, value);
    return text;
}

// "2.png onto 1.png: shift +10.3, +11.7 pixels, rotation +0.04 degrees, scale 0.975"
std::string DescribeMove(const std::string &file, const std::string &reference, const ShotTransform &move)
{
    char scale[32];
    std::snprintf(scale, sizeof scale, "%.4f", move.Scale());
    return "aligned " + fs::path(file).filename().string() + " onto " + fs::path(reference).filename().string()
           + ": shift " + Signed(move.ShiftX(), 2) + ", " + Signed(move.ShiftY(), 2) + " pixels, rotation "
           + Signed(move.RotationDegrees(), 3) + " degrees, scale " + scale;
}

// Registers each picture from the second on onto the first and resamples it into the first's
// frame; of a larger picture only the top-left part, the size of the first, is aligned.
class FrameAlignment {
public:
    FrameAlignment(const CliOptions &options, ProgressReport &progress) : options_(options), progress_(progress) {}

    // Replaces picture i by its aligned form and sets coverage (empty: covers every pixel).
    void Align(int i, TBitmap &picture, int width, int height, TBitmap &coverage)
    {
        picture.SetSize(width, height);
        if (i == 0) {
            aligner_.emplace(picture);
            return;
        }
        AlignedShot aligned;
        try {
            aligned = aligner_->Align(picture);
        } catch (const RegistrationError &refusal) {
            throw Exception("Cannot align " + options_.pictures[i] + " with " + options_.pictures[0] + ": "
                            + refusal.Message() + ". Leave it out, or compare without --align.");
        }
        progress_.Note(DescribeMove(options_.pictures[i], options_.pictures[0], aligned.transform));
        picture = std::move(aligned.picture);
        coverage = std::move(aligned.coverage);
    }

private:
    const CliOptions &options_;
    ProgressReport &progress_;
    std::optional<StackAligner> aligner_;
};

void RunOnPictures(const CliOptions &options, std::ostream &messages, ProgressReport &progress)
{
    const std::vector<std::string> &files = options.pictures;
    const std::vector<PictureHeader> infos = ProbeAll(files);
    const int width = infos[0].width, height = infos[0].height, count = static_cast<int>(files.size());
    const bool fusing = !options.fusedFile.empty();
    const bool sixteenBits = fusing && SavesSixteenBits(options.fusedFile)
                             && std::all_of(infos.begin(), infos.end(), [](const PictureHeader &i) { return i.sixteenBits; });
    const Outputs outputs(options);
    OutputSet written(outputs.targets);

    const TPixelFormat fusedFormat = FusedFormat(infos, sixteenBits);
    std::optional<FocusStack> stack;
    if (fusing)
        stack.emplace(width, height, fusedFormat);
    std::optional<DominanceFold> dominance;
    if (!options.dominanceFile.empty() || options.RegionStepRuns())
        dominance.emplace(width, height);
    std::vector<std::uint8_t> colourProfile;
    FrameAlignment alignment(options, progress);

    PictureReader reader(files, sixteenBits ? PictureDepth::KeepSixteenBits : PictureDepth::EightBits);
    for (int i = 0; i < count; ++i) {
        progress.Picture(fusing ? "fusing" : "reading", i + 1, count, files[i]);
        TPicture picture = reader.Take(static_cast<std::size_t>(i));
        TBitmap &bitmap = picture.Bitmap();
        if (i == 0)
            colourProfile = picture.ColourProfile();
        if (stack)
            bitmap.SetPixelFormat(fusedFormat);
        TBitmap coverage;
        if (options.align)
            alignment.Align(i, bitmap, width, height, coverage);
        const TBitmap *covered = coverage.Empty() ? nullptr : &coverage;
        if (stack)
            stack->Add(bitmap, covered);
        if (!dominance && options.edgeMapsDir.empty())
            continue;
        ComputeEdgeStrengthMap(bitmap);
        if (covered != nullptr)
            ClearUncoveredEdges(bitmap, coverage);
        if (dominance)
            dominance->Add(bitmap, covered);
        if (!options.edgeMapsDir.empty())
            written.Write(outputs.firstEdgeMap + static_cast<std::size_t>(i), SaveMap(std::move(picture)));
    }
    progress.Clear();

    // Each fold's state goes as soon as its result is out, and the fused picture is saved
    // first, while the maps are computed: the encoders hold a picture's filtered rows in full.
    if (stack) {
        auto fused = std::make_shared<TPicture>();
        fused->Bitmap() = stack->Result();
        stack.reset();
        fused->SetColourProfile(std::move(colourProfile));
        written.Write(outputs.fused, [fused, quality = options.jpegQuality](const std::string &file) {
            fused->SaveToFile(file, PictureSaveOptions{.jpegQuality = quality});
        });
    }
    if (dominance) {
        TPicture map;
        map.Bitmap() = dominance->Result();
        dominance.reset();
        if (options.RegionStepRuns()) {
            TPicture regions;
            // The region step leaves the pixels of the (already 24-bit) dominance map as they are.
            ComputeRegionMap(map.Bitmap(), regions.Bitmap(), PrintTo(messages), {}, count);
            if (!options.regionsFile.empty())
                written.Write(outputs.regions, SaveMap(std::move(regions)));
        }
        if (!options.dominanceFile.empty())
            written.Write(outputs.dominance, SaveMap(std::move(map)));
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
