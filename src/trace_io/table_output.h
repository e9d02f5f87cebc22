// Rows of figures as people and programs read them: CSV (a header line and
// rows) and JSON, with numbers that read back exactly and a full stop
// whatever the locale. Every command builds its rows here, once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One value of a row: a number's text or a string, or nothing (CSV: an
// empty field; JSON: null).
struct Field {
  std::optional<std::string> text;
  bool quoted = false;  // a string: quoted in CSV where it must be, always in JSON
  static Field number(std::optional<std::string> text) { return {std::move(text), false}; }
  static Field string(std::string text) { return {std::move(text), true}; }
};

// The names joined by commas, with a newline: a CSV header.
std::string csv_header(const std::vector<std::string>& names);
// The fields as one CSV row, with a newline.
std::string csv_row(const std::vector<Field>& fields);
// The fields as one JSON object {"name":value,...}, without a newline.
std::string json_object(const std::vector<std::string>& names, const std::vector<Field>& fields);
// Rows as a CSV header and rows, or as a JSON array with an object a line.
std::string format_rows(const std::vector<std::string>& names,
                        const std::vector<std::vector<Field>>& rows, bool json);

// Shortest text that reads back as exactly this double; "" for nan or inf.
std::string number_text(double value);
// The same, nothing for a missing, nan or infinite value.
std::optional<std::string> optional_number(const std::optional<double>& value);
// A CSV field, quoted where it must be.
std::string csv_field(std::string_view text);
// A JSON string literal; a byte that is not part of UTF-8 becomes \ufffd.
std::string json_string(std::string_view text);
// True when text is UTF-8 throughout.
bool is_utf8(std::string_view text);
