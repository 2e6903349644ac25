#include "options.h"

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
    {"--from-dominance", "FILE", "run only the region step, on a saved dominance map",
     [](CliOptions &o, const std::string &v) { o.fromDominance = v; }},
    {"--jpeg-quality", "Q", "quality 1 to 100 of a --fused JPEG (default 95)",
     [](CliOptions &o, const std::string &v) { o.jpegQuality = JpegQuality(v); }},
    {"--align", nullptr, "register every picture onto the first before comparing",
     [](CliOptions &o, const std::string &) { o.align = true; }},
    {"--verbose", nullptr, "report the transform found for each aligned picture",
     [](CliOptions &o, const std::string &) { o.verbose = true; }},
    {"--quiet", nullptr, "no progress line on a terminal",
     [](CliOptions &o, const std::string &) { o.quiet = true; }},
};

const Option *FindOption(const std::string &name)
{
    for (const Option &option : options)
        if (name == option.name)
            return &option;
    return nullptr;
}

bool LooksLikeOption(const std::string &argument) { return argument.size() > 1 && argument[0] == '-'; }

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
    if (given.count("--jpeg-quality") != 0 && o.fusedFile.empty())
        throw UsageError("--jpeg-quality sets the quality of the --fused picture; give --fused FILE.jpg");
}

// Checks that the options and pictures make one of the two forms of the command.
void RequireOneForm(const CliOptions &o, const std::set<std::string> &given)
{
    if (!o.fromDominance.empty())
        RequireRegionForm(o);
    else
        RequirePictureForm(o, given);
}

} // namespace

bool CliOptions::RegionStepRuns() const
{
    return !regionsFile.empty() || (fusedFile.empty() && sourceMapFile.empty() && pictures.size() == 3)
           || !fromDominance.empty();
}

CliOptions ParseCommandLine(int argc, const char *const argv[])
{
    CliOptions parsed;
    std::set<std::string> given;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
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
        "  or:  edgedom-cli --from-dominance FILE [--regions FILE]\n"
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
            "The fused picture carries the colour profile of the first picture. When every picture\n"
            "has 16 bits per channel, it keeps 16 bits as .png or .tif; other formats get 8 bits.\n"
            "Maps are written losslessly in the format their extension names (.png, .bmp, .tif,\n"
            ".ppm/.pgm). Nothing is written unless all the work succeeds. On a terminal a progress\n"
            "line shows on standard error. Exit status: 0 done, 1 failed, 2 bad usage.\n";
    return text;
}
