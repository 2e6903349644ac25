// The command line of edgedom-cli: the pictures, the stack file or the saved dominance map to
// read, the maps and the all-in-focus picture to write, or the folders of stacks a batch fuses,
// and how to report progress. Parsing checks only the shape of the command; files are opened
// later, by the pipeline or the batch.
#pragma once

#include "stack_limits.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct CliOptions {
    bool help = false;
    bool version = false;
    std::vector<std::string> pictures; // 2 to 255, unless stackFile or fromDominance is given; the
                                       // folders of stacks with batchDir
    std::string stackFile;             // a stack file (.edgedom) whose shots and strokes to render
    std::string fromDominance;         // a saved dominance map to run the region step on
    std::string dominanceFile;         // where to write each output; empty: not written
    std::string regionsFile;
    std::string edgeMapsDir;
    std::string fusedFile;
    std::string sourceMapFile;         // the number of each fused pixel's shot, 1 to N
    int jpegQuality = 95;              // of a fused picture written as JPEG
    bool noMetadata = false;           // the fused picture without the first picture's metadata
    bool align = false;                // register every picture onto the first before comparing
    bool quiet = false;                // no progress line
    bool verbose = false;              // a line for each transform alignment finds

    std::string batchDir;              // --batch: where each stack's fused picture goes; empty: one stack
    std::optional<double> splitGap;    // cut a folder of pictures where the capture time jumps by more (s)
    std::string format = "png";        // of a batch's fused pictures: png, tif or jpg
    bool sourceMaps = false;           // a batch also writes each stack's source map
    bool force = false;                // a batch fuses again the stacks whose outputs are up to date
    int jobs = 0;                      // stacks a batch fuses at once; 0: chosen from the cores and memory
    bool list = false;                 // print each stack's command instead of fusing
    std::string program;               // how the tool was run (argv[0]), for the commands --list prints

    // Whether the region step runs: always in the three-picture form without --fused or --source-map, which
    // prints its messages whatever it writes; otherwise only when the region map is asked for.
    bool RegionStepRuns() const;
};

// A command line of the wrong shape; the message says what is wrong with it.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most pictures the region map can tell apart: grey 50 x class must fit a byte.
constexpr int MaxRegionClasses = 5;

// Reads argv[1] to argv[argc - 1]. Options take their value as the next argument or after
// '=' (-j also as -jN); "--" ends the options. --help or --version stops the parse where it
// stands. A command of none of the forms raises a UsageError.
CliOptions ParseCommandLine(int argc, const char *const argv[]);

// The usage text, several lines each ending in a newline.
std::string UsageText();
