#include "options.h"

namespace {

// The options that take a value; the usage text is built from this table too.
struct ValueOption {
    const char *name;
    const char *argument;
    std::string CliOptions::*target;
    const char *help;
};

const ValueOption valueOptions[] = {
    {"--dominance", "FILE", &CliOptions::dominanceFile,
     "write the dominance map (class 1, 2 or 3 per pixel)"},
    {"--regions", "FILE", &CliOptions::regionsFile,
     "write the region map (50, 100, 150 over large regions)"},
    {"--edge-maps", "DIR", &CliOptions::edgeMapsDir,
     "write the edge strength maps DIR/edge{1,2,3}.png"},
    {"--from-dominance", "FILE", &CliOptions::fromDominance,
     "run only the region step, on a saved dominance map"},
};

const ValueOption *FindValueOption(const std::string &name)
{
    for (const ValueOption &option : valueOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

bool LooksLikeOption(const std::string &argument) { return argument.size() > 1 && argument[0] == '-'; }

// Checks that the options and pictures make one of the two forms of the command.
void RequireOneForm(const CliOptions &options)
{
    if (!options.fromDominance.empty()) {
        if (!options.pictures.empty())
            throw UsageError("--from-dominance reads a dominance map instead of pictures; "
                             "remove the picture arguments");
        if (!options.dominanceFile.empty() || !options.edgeMapsDir.empty())
            throw UsageError("--from-dominance computes only the region map; "
                             "--dominance and --edge-maps need three pictures");
        return;
    }
    if (options.pictures.size() != 3)
        throw UsageError("expected three pictures, got " + std::to_string(options.pictures.size()));
}

} // namespace

CliOptions ParseCommandLine(int argc, const char *const argv[])
{
    CliOptions options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || !LooksLikeOption(argument)) {
            options.pictures.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
            return options;
        } else if (argument == "--version") {
            options.version = true;
            return options;
        } else {
            const std::size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            const ValueOption *option = FindValueOption(name);
            if (option == nullptr)
                throw UsageError("unknown option " + name);
            std::string value;
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (i + 1 < argc && !LooksLikeOption(argv[i + 1]))
                value = argv[++i];
            if (value.empty())
                throw UsageError(name + " needs a " + option->argument + " argument");
            if (!(options.*option->target).empty())
                throw UsageError(name + " is given twice");
            options.*option->target = value;
        }
    }
    RequireOneForm(options);
    return options;
}

std::string UsageText()
{
    std::string text =
        "Usage: edgedom-cli [--dominance FILE] [--regions FILE] [--edge-maps DIR] PICTURE1 PICTURE2 PICTURE3\n"
        "       edgedom-cli --from-dominance FILE [--regions FILE]\n"
        "       edgedom-cli --help | --version\n"
        "\n"
        "Compares three pictures of one scene by the strength of their edges, pixel by pixel,\n"
        "and maps the large regions where each picture is the sharpest. Prints the running\n"
        "pixel count after each class (\"We get max =N\").\n"
        "\n"
        "Options:\n";
    for (const ValueOption &option : valueOptions) {
        std::string head = std::string("  ") + option.name + " " + option.argument;
        head.resize(26, ' ');
        text += head + option.help + "\n";
    }
    text += "  -h, --help              print this help and exit\n"
            "  --version               print the version and exit\n"
            "\n"
            "Maps are written only when all the work has succeeded, in the format their extension\n"
            "names (.png, .bmp, .tif, .ppm/.pgm). Exit status: 0 done, 1 failed, 2 bad usage.\n";
    return text;
}
