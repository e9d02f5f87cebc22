// What an interrupted run says before it ends.
#pragma once

#include "trace_io/run_state.h"

// From now on SIGINT, SIGTERM and SIGHUP write "interrupted by SIGTERM"
// (and "; the outputs of this run are incomplete" once state has created
// an output) as a line on fd, after "PROGRAM: " when named, then end the
// process by the same signal, so that a shell loop stops as it would for
// any interrupted program. SIGPIPE is ignored, so a closed standard output
// is a failed write like any other. state must live until the process ends.
void watch_signals(const RunState& state, int fd, bool named);
