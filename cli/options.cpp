#include "options.h"

#include "command_forms.h"

#include <charconv>
#include <set>

namespace {

// One option: a flag when argument is nullptr, else it takes a value. The usage text is
// built from this table too.
struct Option {
    const char *name;
    const char *argument;
    const char *help;
    void (*apply)(CliOptions &options, const std::string &value);
};

int JpegQuality(const std::string &value)
{
    int quality = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), quality);
    if (error != std::errc() || end != value.data() + value.size() || quality < 1 || quality > 100)
        throw UsageError("--jpeg-quality takes a whole number from 1 to 100, not " + value);
    return quality;
}

int Jobs(const std::string &value)
{
    int jobs = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
    if (error != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > 1024)
        throw UsageError("-j takes a whole number of stacks from 1 to 1024, not " + value);
    return jobs;
}

double SplitGap(const std::string &value)
{
    double seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size() || !(seconds >= 0 && seconds < 1e9))
        throw UsageError("--split-gap takes seconds, a number such as 2 or 0.5, not " + value);
    return seconds;
}

std::string Format(const std::string &value)
{
    if (value != "png" && value != "tif" && value != "jpg")
        throw UsageError("--format takes png, tif or jpg, not " + value);
    return value;
}

const Option options[] = {
    {"--fused", "FILE", "write the all-in-focus picture (.png, .tif, .bmp, .ppm, .jpg)",
     [](CliOptions &o, const std::string &v) { o.fusedFile = v; }},
    {"--source-map", "FILE", "write the number (1 to N) of the shot each fused pixel comes from, as grey",
     [](CliOptions &o, const std::string &v) { o.sourceMapFile = v; }},
    {"--dominance", "FILE", "write the dominance map (class 1 to N per pixel)",
     [](CliOptions &o, const std::string &v) { o.dominanceFile = v; }},
    {"--regions", "FILE", "write the region map (grey 50 x class over large regions; N <= 5)",
     [](CliOptions &o, const std::string &v) { o.regionsFile = v; }},
    {"--edge-maps", "DIR", "write the edge strength maps DIR/edge1.png to edgeN.png",
     [](CliOptions &o, const std::string &v) { o.edgeMapsDir = v; }},
    {"--stack", "FILE", "render a stack file (.edgedom): its shots, alignment and retouching",
     [](CliOptions &o, const std::string &v) { o.stackFile = v; }},
    {"--from-dominance", "FILE", "run only the region step, on a saved dominance map",
     [](CliOptions &o, const std::string &v) { o.fromDominance = v; }},
    {"--jpeg-quality", "Q", "quality 1 to 100 of a --fused JPEG (default 95)",
     [](CliOptions &o, const std::string &v) { o.jpegQuality = JpegQuality(v); }},
    {"--no-metadata", nullptr, "write --fused without the first picture's metadata (EXIF, XMP, IPTC)",
     [](CliOptions &o, const std::string &) { o.noMetadata = true; }},
    {"--align", nullptr, "register every picture onto the first before comparing",
     [](CliOptions &o, const std::string &) { o.align = true; }},
    {"--verbose", nullptr, "report the transform found for each aligned picture",
     [](CliOptions &o, const std::string &) { o.verbose = true; }},
    {"--quiet", nullptr, "no progress line on a terminal",
     [](CliOptions &o, const std::string &) { o.quiet = true; }},
    {"--batch", "OUTDIR", "fuse every stack of the FOLDERs, each to OUTDIR/NAME.png (see Batches below)",
     [](CliOptions &o, const std::string &v) { o.batchDir = v; }},
    {"--split-gap", "SECONDS", "cut a folder of pictures into stacks where the capture time jumps by more",
     [](CliOptions &o, const std::string &v) { o.splitGap = SplitGap(v); }},
    {"--format", "png|tif|jpg", "the format of a batch's fused pictures (default png)",
     [](CliOptions &o, const std::string &v) { o.format = Format(v); }},
    {"--source-maps", nullptr, "a batch also writes each stack's source map, OUTDIR/NAME-source.png",
     [](CliOptions &o, const std::string &) { o.sourceMaps = true; }},
    {"--force", nullptr, "a batch fuses again the stacks whose outputs are up to date",
     [](CliOptions &o, const std::string &) { o.force = true; }},
    {"-j", "N", "a batch fuses N stacks at once (default: as the cores and memory allow)",
     [](CliOptions &o, const std::string &v) { o.jobs = Jobs(v); }},
    {"--list", nullptr, "print the command of each stack a batch would fuse, and fuse none",
     [](CliOptions &o, const std::string &) { o.list = true; }},
};

const Option *FindOption(const std::string &name)
{
    for (const Option &option : options)
        if (name == option.name)
            return &option;
    return nullptr;
}

bool LooksLikeOption(const std::string &argument) { return argument.size() > 1 && argument[0] == '-'; }

} // namespace

bool CliOptions::RegionStepRuns() const
{
    return !regionsFile.empty() || (fusedFile.empty() && sourceMapFile.empty() && pictures.size() == 3)
           || !fromDominance.empty();
}

CliOptions ParseCommandLine(int argc, const char *const argv[])
{
    CliOptions parsed;
    parsed.program = argc > 0 ? argv[0] : "edgedom-cli";
    std::set<std::string> given;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (optionsEnded || !LooksLikeOption(argument)) {
            parsed.pictures.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (argument == "--version") {
            parsed.version = true;
            return parsed;
        }
        if (argument.size() > 2 && argument.rfind("-j", 0) == 0 && argument[2] != '=') // -j4, as make takes it
            argument = "-j=" + argument.substr(2);
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const Option *option = FindOption(name);
        if (option == nullptr)
            throw UsageError("unknown option " + name);
        if (!given.insert(name).second)
            throw UsageError(name + " is given twice");
        std::string value;
        if (option->argument == nullptr) {
            if (equals != std::string::npos)
                throw UsageError(name + " takes no value");
        } else {
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (i + 1 < argc && !LooksLikeOption(argv[i + 1]))
                value = argv[++i];
            if (value.empty())
                throw UsageError(name + " needs a " + option->argument + " argument");
        }
        option->apply(parsed, value);
    }
    RequireOneForm(parsed, given);
    return parsed;
}

std::string UsageText()
{
    std::string text =
        "Usage: edgedom-cli [OPTIONS] PICTURE1 PICTURE2 [PICTURE3 ... PICTURE" + std::to_string(MaxShots) + "]\n"
        "  or:  edgedom-cli [OPTIONS] --stack FILE.edgedom\n"
        "  or:  edgedom-cli --from-dominance FILE [--regions FILE]\n"
        "  or:  edgedom-cli --batch OUTDIR [OPTIONS] FOLDER...\n"
        "  or:  edgedom-cli --help | --version\n"
        "\n"
        "Compares pictures of one scene, such as shots focused at different depths, by the\n"
        "strength of their edges, pixel by pixel: maps which picture is the sharpest where, and\n"
        "fuses them into one picture that is sharp everywhere. With three pictures and without\n"
        "--fused it prints the running pixel count after each class of the region map\n"
        "(\"We get max =N\"); otherwise it prints those lines when --regions is given. With other\n"
        "than three pictures, say what to write.\n"
        "\n"
        "Options:\n";
    for (const Option &option : options) {
        std::string head = std::string("  ") + option.name + (option.argument ? std::string(" ") + option.argument : "");
        head.resize(26, ' ');
        text += head + option.help + "\n";
    }
    text += "  -h, --help              print this help and exit\n"
            "  --version               print the version and exit\n"
            "\n"
            "The second and later pictures must be at least as large as the first; of a larger one\n"
            "the top-left part is used. With --align each is registered onto the first (shift,\n"
            "rotation, scale) and resampled; a picture that cannot be registered is refused.\n"
            "A stack file (.edgedom), which the window saves for a retouched stack, names the\n"
            "shots, whether they are aligned and the strokes painted over their fusion; --stack\n"
            "renders the fused picture and source map the window shows (the other maps are of\n"
            "the shots, not retouched).\n"
            "The fused picture carries the colour profile of the first picture and, as .jpg, .png or\n"
            ".tif, its metadata (camera, lens, exposure, date, GPS, copyright, keywords; upright,\n"
            "without its thumbnail) unless --no-metadata is given; damaged metadata is left out,\n"
            "with a warning. When every picture has 16 bits per channel, it keeps 16 bits as .png\n"
            "or .tif; other formats get 8 bits.\n"
            "Maps are written losslessly in the format their extension names (.png, .bmp, .tif,\n"
            ".ppm/.pgm). Nothing is written unless all the work succeeds. On a terminal a progress\n"
            "line shows on standard error. Exit status: 0 done, 1 failed, 2 bad usage.\n"
            "\n"
            "Batches: --batch fuses many stacks. A FOLDER of pictures is one stack, named after the\n"
            "folder; a FOLDER of folders gives a stack for each folder in it, named after it. With\n"
            "--split-gap, a folder of pictures is cut, in name order, wherever the capture time (EXIF,\n"
            "else the file's time) jumps by more than SECONDS, each stack named after its first shot.\n"
            "Each fused picture goes to OUTDIR/NAME.png (--format); the options of one stack apply\n"
            "to each. A stack whose outputs are newer than all its shots is skipped (--force fuses it\n"
            "again), so a batch that was stopped finishes when run again. One stack that fails does\n"
            "not stop the others: a summary names each with its reason, and the exit status is 1.\n"
            "With --list the command of each stack to fuse is printed, one line each, for GNU\n"
            "parallel or a job array to run.\n";
    return text;
}
