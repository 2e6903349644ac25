// The forms an edgedom-cli command takes (pictures, a stack file, a saved dominance map, a batch
// of folders of stacks) and the check that a parsed command is one of them, whose refusal says
// what to change.
#pragma once

#include "options.h"

#include <set>
#include <string>

// Raises a UsageError unless o is one of the forms; given: the options named on the command line.
void RequireOneForm(const CliOptions &o, const std::set<std::string> &given);
