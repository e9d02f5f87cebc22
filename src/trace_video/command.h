// trace_video's command line: `send`, `receive` (one run or a sweep) and
// `merge`, their options, and what each prints and returns (0 done, 1 bad
// input, 2 usage).
#pragma once

#include <string>

// Runs trace_video as `program`; returns the exit status.
int video_command(const std::string& program, int argc, char** argv);
