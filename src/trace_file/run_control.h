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

// Fails when an output name already holds something that cannot be
// written as a file: a FIFO or a socket, or an rd_frame_dat that could not
// be read back (anything but a regular file, /dev/null or /dev/full).
void refuse_unwritable_outputs();

// SIGINT, SIGTERM and SIGHUP say that the run was interrupted (and that its
// outputs are incomplete when there are any), then end the process by the
// same signal; SIGPIPE is ignored, so a closed standard output is a failed
// write like any other.
void install_signal_handlers();

// Tests only: called after the start-up checks, before the traces are loaded.
void set_after_checks_hook(void (*hook)());
