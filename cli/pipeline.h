// The work of one edgedom-cli command: pictures to edge strength maps to a dominance map
// to a region map, or a saved dominance map to a region map. Every map is computed before
// the first file is written, so a failure leaves no output behind.
#pragma once

#include "options.h"

#include <ostream>

// Runs the command options describes (a parsed one, neither --help nor --version), writing
// each "We get max =N" message on a line of its own to messages as it comes. Raises an
// Exception naming the file and the reason when a picture cannot be read, the pictures do
// not fit together or an output cannot be written.
void ComputeAndSaveMaps(const CliOptions &options, std::ostream &messages);
