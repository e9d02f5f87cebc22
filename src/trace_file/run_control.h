// Where a run of trace_align enters and ends.
#pragma once

#include <string>

#include "files.h"

// Everything trace_align does for its command line, up to the end of the
// process: returns the message the run ends with ("" for a completed run
// without problems). The caller prints it and exits with status 1.
// Ends nothing itself, so tests and fuzz targets run it in-process.
std::string run(int argc, char** argv);

// The text of `trace_align --help` or `--version` when that is the only
// argument, else null. Any other command line is a run, even with
// arguments that start with "-".
const char* help_or_version(int argc, char** argv);

// Fails when an output of the run would overwrite one of its inputs.
void refuse_inputs_among_outputs(const InputFile* inputs, int count);
