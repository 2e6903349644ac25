// The batch as single commands, one line per stack still to fuse, for tools that spread command
// lines over cores or machines: GNU parallel (locally or with --sshlogin over machines that share
// the files), or a Slurm array job that runs line $SLURM_ARRAY_TASK_ID. Paths are absolute, so
// the lines run from any folder.
#pragma once

#include "batch_plan.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

// The words of the command that runs single (one stack's command, as StackCommand makes it):
// the program as it was run (absolute when it was run by a path), its options, "--" and the
// shots.
std::vector<std::string> CommandWords(const CliOptions &single);

// The words joined by spaces, each quoted for a POSIX shell where it holds anything but letters,
// digits and _ . / : = @ % + , -.
std::string ShellLine(const std::vector<std::string> &words);

// Prints the command of each stack the plan fuses on a line of its own to out, and tells of the
// others that will not be fused on errors ("edgedom-cli: skipped ..." or "failed ..."). Returns
// the exit status: 1 when a stack failed, else 0.
int ListBatch(const CliOptions &batch, const std::vector<PlannedStack> &plan, std::ostream &out, std::FILE *errors);
