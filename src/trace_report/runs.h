// One run of trace_report: loading its four traces and reporting on them,
// alone or as a run of a sweep.
#pragma once

#include <string>
#include <vector>

#include "trace_io/run_state.h"
#include "trace_report/report.h"

// Loads the four traces as every command does (same rules and messages)
// and reports on them. The frame table goes to *frames when asked, for
// the file frames_path, which the run refuses first when it is one of its
// inputs or no file to write (a FIFO, a socket). Fails as a run does.
Report report_run(RunState& run, const std::string (&paths)[4],
                  std::vector<FrameRow>* frames = nullptr, const std::string& frames_path = "");
