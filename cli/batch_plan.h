// What a batch does with each stack its folders hold, decided before any work: fuse it to
// OUTDIR/NAME.EXT (and NAME-source.png), skip it because its outputs are newer than its shots or
// because it has fewer than two, or count it failed. Refuses a batch whose outputs cannot all be
// written: an output folder that cannot be written or holds shots, two stacks of one name.
#pragma once

#include "batch_stacks.h"
#include "options.h"

#include <string>
#include <vector>

enum class StackState {
    ToFuse,
    UpToDate,    // every output is newer than every shot: skipped unless --force
    TooFewShots, // no picture or one: skipped, and told
    Failed,      // cannot be fused at all (see reason); the others go on
};

struct PlannedStack {
    FoundStack found;
    std::vector<std::string> outputs; // the fused picture, then the source map when asked for
    StackState state = StackState::ToFuse;
    std::string reason;               // why it is skipped or failed: a user's sentence
};

// Whether every output exists and was written after the last change of every shot.
bool UpToDate(const std::vector<std::string> &outputs, const std::vector<std::string> &shots);

// The plan of the batch options describes (a parsed --batch command). Creates the output folder
// when it is missing. Raises an Exception before any work when a given folder cannot be read,
// when the output folder is not a folder that can be written or holds the shots of a stack (its
// outputs would become shots), and when two stacks would write one file, naming both.
std::vector<PlannedStack> PlanBatch(const CliOptions &options);

// The single command that fuses one stack of the plan: its shots, its outputs, and every option
// of the batch that applies to one stack.
CliOptions StackCommand(const CliOptions &batch, const PlannedStack &stack);
