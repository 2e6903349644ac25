// The work of one edgedom-cli command, and of each stack of a batch: pictures, or the shots of a
// stack file, to edge strength maps, a dominance map, a region map and the all-in-focus picture
// (retouched by the stack file's strokes), or a saved dominance map to a region map. The
// pictures are read one after another and folded into running maps, so memory does not grow
// with their number; nothing is written unless the whole command succeeds.
#pragma once

#include "options.h"
#include "progress.h"
#include "stack_file.h"

#include <ostream>
#include <stop_token>

// Runs the command options describes (a parsed one of one stack or dominance map, neither
// --help nor --version), writing each "We get max =N" message on a line of its own to messages
// as it comes. Raises an Exception naming the file and the reason when a picture or the stack
// file cannot be read, the pictures do not fit together or an output cannot be written, and
// FusionCancelled, having written nothing, once stop is requested while shots are fused.
void ComputeAndSaveMaps(const CliOptions &options, std::ostream &messages, StackProgress &progress,
                        std::stop_token stop = {});

// The same for one stack given by its shots, alignment and strokes, writing the outputs options
// names: the single command and each stack of a batch run this.
void RunOnStack(const CliOptions &options, const StackFile &stack, std::ostream &messages, StackProgress &progress,
                std::stop_token stop = {});
