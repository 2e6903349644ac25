// Running a batch: its plan made, the stacks that need it fused on threads of their own, as many
// at once as -j (or the cores) allows and the memory available holds, each by the work of the
// single command (RunOnStack); a stack that fails does not stop the others. It ends with a
// summary: how many stacks were fused, skipped and failed, and a line for each failure.
#pragma once

#include "options.h"

#include <cstdio>
#include <ostream>
#include <stop_token>

// Runs the batch options describes (a parsed --batch command): prints each stack's command to
// out with --list, else fuses the stacks, with the progress line, the stacks skipped and the
// summary on errors. Returns the exit status: 0 when no stack failed, else 1. Once stop is
// requested, the stacks being fused are stopped and taken back, no other starts, and it returns
// after saying so. Raises the plan's Exception when the batch is refused before any work.
int RunBatch(const CliOptions &options, std::ostream &out, std::FILE *errors, std::stop_token stop);
