// The command line of edgedom-cli: the three pictures or the saved dominance map to read
// and the maps to write. Parsing checks only the shape of the command; files are opened
// later, by the pipeline.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

struct CliOptions {
    bool help = false;
    bool version = false;
    std::vector<std::string> pictures; // exactly three, unless fromDominance is given
    std::string fromDominance;         // a saved dominance map to run the region step on
    std::string dominanceFile;         // where to write each map; empty: not written
    std::string regionsFile;
    std::string edgeMapsDir;
};

// A command line of the wrong shape; the message says what is wrong with it.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads argv[1] to argv[argc - 1]. Options take their value as the next argument or after
// '='; "--" ends the options. --help or --version stops the parse where it stands.
// A command of neither form raises a UsageError.
CliOptions ParseCommandLine(int argc, const char *const argv[]);

// The usage text, several lines each ending in a newline.
std::string UsageText();
