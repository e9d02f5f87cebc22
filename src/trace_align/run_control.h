// Where a run of trace_align enters and ends.
#pragma once

#include <functional>
#include <string>

#include "trace_io/files.h"
#include "trace_io/run_state.h"

// Everything trace_align does for its command line, up to the end of the
// process: returns the message the run ends with ("" for a completed run
// without problems), saying so when the run's outputs are incomplete. The
// caller prints it and exits with status 1 (end_run). Ends nothing
// itself, so tests and fuzz targets run it in-process; after_checks, for
// tests, is called after the start-up checks, before the traces load.
std::string run(int argc, char** argv, RunState& state,
                const std::function<void()>& after_checks = {});

// The text of `trace_align --help` or `--version` when that is the only
// argument, else null. Any other command line is a run, even with
// arguments that start with "-".
const char* help_or_version(int argc, char** argv);

// The file a run locks for the working directory: /tmp/trace_align-DEV-INO.lock,
// the directory's device and inode ("" when it cannot be told).
std::string run_lock_path();

// Fails when an output of the run would overwrite one of its inputs.
void refuse_inputs_among_outputs(const InputFile* inputs, int count);

// Fails when an output name already holds something that cannot be
// written as a file: a FIFO or a socket, or an rd_frame_dat that could not
// be read back (anything but a regular file, /dev/null or /dev/full).
void refuse_unwritable_outputs();

// Prints the message (when not empty) on standard output and ends the
// process with exit status 1, as every path of the tool does.
[[noreturn]] void end_run(const RunState& state, const std::string& message);
