// trace_report's figures as people and programs read them: aligned text,
// CSV (a header line and rows) and JSON, one run or a list of runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "trace_report/report.h"
#include "trace_report/runs.h"

enum class Style { kText, kCsv, kJson };

// One figure of a run: its name (CSV column, JSON key), its label and unit
// in the text output, and its value: a number as text, or nothing where
// there is nothing to compute it from.
struct Figure {
  const char* name;
  const char* label;
  const char* unit;
  std::optional<std::string> (*value)(const Report& report);
};
// Every figure, in column order.
extern const std::vector<Figure> kFigures;

// One run: aligned "label: value unit" lines, or a CSV header and row, or a
// JSON object; each ends with a newline.
std::string format_report(const Report& report, Style style);
// The per-frame table as CSV, header first.
std::string format_frames(const std::vector<FrameRow>& frames);
// The outcomes of a list's runs as CSV (header, then a row per run) or a
// JSON array, with a first column "run" and a last column "error".
std::string format_runs(const std::vector<RunLine>& runs, const std::vector<RunOutcome>& outcomes,
                        Style style);
