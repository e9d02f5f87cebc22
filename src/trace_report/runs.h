// One run or a thousand: loading a run's four traces and reporting on them,
// and a list of runs reported on several threads.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "report_output.h"

// A run of a list: its name and its four trace paths.
struct RunLine {
  std::string name;
  std::string paths[4];  // SD0 SD1 SD2 RD
};

// What became of a run: its figures, or the message it failed with.
struct RunOutcome {
  std::optional<Report> report;
  std::string error;
};

// Loads the four traces as trace_align does (same rules and messages) and
// reports on them; the frame table goes to *frames when asked.
RunOutcome report_run(const std::string (&paths)[4], std::vector<FrameRow>* frames = nullptr);

// The runs of a list file: one "name,sd0,sd1,sd2,rd" line each, paths
// relative to the list's folder; "#" lines and blank lines skipped. Fails
// (RunFailure) on a line that is not such a line, naming the list and line.
std::vector<RunLine> read_run_list(const std::string& list_path);

// Reports on every run on `jobs` threads; outcomes in the list's order.
// With progress, one line on standard error is kept up to date.
std::vector<RunOutcome> report_runs(const std::vector<RunLine>& runs, int jobs, bool progress);

// The outcomes as CSV (header, then a row per run) or a JSON array, with a
// first column "run" and a last column "error".
std::string format_runs(const std::vector<RunLine>& runs, const std::vector<RunOutcome>& outcomes, Style style);
