// One run or a thousand: loading a run's four traces and reporting on them,
// and a list of runs reported on several threads.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "trace_io/run_list.h"
#include "trace_report/report.h"

// What became of a run: its figures, or the message it failed with.
struct RunOutcome {
  std::optional<Report> report;
  std::string error;
};

// Loads the four traces as every command does (same rules and messages)
// and reports on them, decompressing on the calling thread too when
// one_thread; the frame table goes to *frames when asked, for the file
// frames_path, which the run refuses first when it is one of its inputs or
// no file to write (a FIFO, a socket).
RunOutcome report_run(const std::string (&paths)[4], bool one_thread,
                      std::vector<FrameRow>* frames = nullptr, const std::string& frames_path = "");

// Reports on every run on `jobs` threads, each run as report_run does;
// outcomes in the list's order. With progress, one line on standard error
// is kept up to date.
std::vector<RunOutcome> report_runs(const std::vector<RunLine>& runs, int jobs, bool one_thread,
                                    bool progress);
