// The figures as people and programs read them: aligned text, CSV (a
// header line and rows) and JSON, with numbers that read back exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"

enum class Style { kText, kCsv, kJson };

// The names of the figures, in column order (CSV header, JSON keys).
const std::vector<std::string>& report_columns();
// The figures in column order: a number as text, or nothing where there is
// nothing to compute it from.
std::vector<std::optional<std::string>> report_values(const Report& report);

// One run: aligned "name: value unit" lines, or a CSV header and row, or a
// JSON object; each ends with a newline.
std::string format_report(const Report& report, Style style);
// The per-frame table as CSV, header first.
std::string format_frames(const std::vector<FrameRow>& frames);

// Shortest text that reads back as exactly this double; "" for nan or inf.
std::string number_text(double value);
// A CSV field, quoted where it must be.
std::string csv_field(std::string_view text);
// A JSON string literal.
std::string json_string(std::string_view text);
