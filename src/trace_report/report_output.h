// trace_report's figures as people and programs read them: aligned text,
// CSV or JSON for a run, and the per-frame table, all through the row
// builders every command shares (table_output.h).
#pragma once

#include <string>
#include <vector>

#include "trace_io/table_output.h"
#include "trace_report/report.h"

// Every figure of a run, in column order; a value is nothing where there
// is nothing to compute it from.
extern const std::vector<Figure<Report>> kFigures;

// One run: aligned "label: value unit" lines, or a CSV header and row, or a
// JSON object; each ends with a newline.
std::string format_report(const Report& report, Format format);
// The per-frame table as CSV, header first.
std::string format_frames(const std::vector<FrameRow>& frames);
