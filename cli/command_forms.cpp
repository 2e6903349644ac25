#include "command_forms.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool WritesAnything(const CliOptions &o)
{
    return !o.fusedFile.empty() || !o.sourceMapFile.empty() || !o.dominanceFile.empty() || !o.regionsFile.empty()
           || !o.edgeMapsDir.empty();
}

void RequireRegionForm(const CliOptions &o)
{
    if (!o.pictures.empty())
        throw UsageError("--from-dominance reads a dominance map instead of pictures; remove the picture arguments");
    if (!o.dominanceFile.empty() || !o.edgeMapsDir.empty() || !o.fusedFile.empty() || !o.sourceMapFile.empty()
        || o.align)
        throw UsageError("--from-dominance computes only the region map; --dominance, --edge-maps, --fused, "
                         "--source-map and --align need pictures");
}

void RequireJpegOnlyWithFused(const CliOptions &o, const std::set<std::string> &given)
{
    if (given.count("--jpeg-quality") != 0 && o.fusedFile.empty())
        throw UsageError("--jpeg-quality sets the quality of the --fused picture; give --fused FILE.jpg");
}

// The stack file names the shots and whether they are aligned; --regions' limit on their number
// is checked once the file is read.
void RequireStackForm(const CliOptions &o, const std::set<std::string> &given)
{
    if (!o.pictures.empty())
        throw UsageError("--stack reads the shots from the stack file; remove the picture arguments");
    if (!o.fromDominance.empty())
        throw UsageError("--stack renders a stack and --from-dominance reads a dominance map; give one of them");
    if (o.align)
        throw UsageError("--stack aligns the shots as the stack file says (its \"align\"); remove --align");
    if (!WritesAnything(o))
        throw UsageError("with --stack, say what to write: --fused, --source-map, --dominance, --regions or "
                         "--edge-maps");
    RequireJpegOnlyWithFused(o, given);
}

void RequirePictureForm(const CliOptions &o, const std::set<std::string> &given)
{
    const int count = static_cast<int>(o.pictures.size());
    if (count < 2 || count > MaxShots)
        throw UsageError("expected 2 to " + std::to_string(MaxShots) + " pictures, got " + std::to_string(count));
    if (count != 3 && !WritesAnything(o))
        throw UsageError("with " + std::to_string(count) + " pictures, say what to write: --fused, --source-map, "
                         "--dominance, --regions or --edge-maps");
    if (!o.regionsFile.empty() && count > MaxRegionClasses)
        throw UsageError("--regions paints one grey per picture and tells at most " + std::to_string(MaxRegionClasses)
                         + " apart; got " + std::to_string(count) + " pictures");
    RequireJpegOnlyWithFused(o, given);
}

// A batch names each stack's inputs and outputs itself; the options of one stack's inputs and
// outputs make no sense beside it, and its arguments are folders.
void RequireBatchForm(const CliOptions &o, const std::set<std::string> &given)
{
    for (const char *single : {"--fused", "--source-map", "--dominance", "--regions", "--edge-maps", "--stack",
                               "--from-dominance"})
        if (given.count(single) != 0)
            throw UsageError(std::string(single) + " names one stack's file; --batch writes OUTDIR/NAME." + o.format
                             + " for each stack (and NAME-source.png with --source-maps): remove " + single);
    if (o.pictures.empty())
        throw UsageError("--batch needs folders: of pictures (a stack), or of folders of pictures (a stack each)");
    for (const std::string &input : o.pictures) {
        std::error_code error;
        if (fs::exists(input, error) && !fs::is_directory(input, error))
            throw UsageError("--batch takes folders, and " + input + " is not one: give the folder of its stack");
    }
    if (given.count("--jpeg-quality") != 0 && o.format != "jpg")
        throw UsageError("--jpeg-quality sets the quality of JPEG pictures; add --format jpg");
}

} // namespace

void RequireOneForm(const CliOptions &o, const std::set<std::string> &given)
{
    if (!o.batchDir.empty())
        return RequireBatchForm(o, given);
    for (const char *batchOnly : {"--split-gap", "--format", "--source-maps", "--force", "-j", "--list"})
        if (given.count(batchOnly) != 0)
            throw UsageError(std::string(batchOnly) + " goes with --batch OUTDIR");
    if (o.noMetadata && o.fusedFile.empty())
        throw UsageError("--no-metadata concerns the --fused picture; give --fused FILE");
    if (!o.stackFile.empty())
        RequireStackForm(o, given);
    else if (!o.fromDominance.empty())
        RequireRegionForm(o);
    else
        RequirePictureForm(o, given);
}
