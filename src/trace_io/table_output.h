// Rows of figures as people and programs read them: CSV (a header line and
// rows) and JSON, with numbers that read back exactly and a full stop
// whatever the locale. Every command builds its rows here, once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How a command prints its figures: aligned text, CSV or JSON.
enum class Format { kText, kCsv, kJson };

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

// A column of a record: its name (CSV column, JSON key), and its label
// and unit in the text output.
struct Column {
  std::string name, label, unit;
};
// One record: aligned "label: value unit" lines ("n/a" for an empty
// value), or a CSV header and row, or a JSON object; each ends with a
// newline.
std::string format_record(const std::vector<Column>& columns, const std::vector<Field>& fields,
                          Format format);

// A table of figures of a record T: each figure's column and how its
// value is read off a T, so that names and values cannot drift apart.
template <typename T>
struct Figure {
  const char* name;
  const char* label;
  const char* unit;
  std::optional<std::string> (*value)(const T& record);
};
template <typename T>
std::vector<Column> columns_of(const std::vector<Figure<T>>& figures) {
  std::vector<Column> columns;
  for (const Figure<T>& f : figures) columns.push_back({f.name, f.label, f.unit});
  return columns;
}
template <typename T>
std::vector<std::string> names_of(const std::vector<Figure<T>>& figures) {
  std::vector<std::string> names;
  for (const Figure<T>& f : figures) names.push_back(f.name);
  return names;
}
template <typename T>
std::vector<Field> fields_of(const std::vector<Figure<T>>& figures, const T& record) {
  std::vector<Field> fields;
  for (const Figure<T>& f : figures) fields.push_back(Field::number(f.value(record)));
  return fields;
}
// A whole number's text, as figures give it.
inline std::optional<std::string> count_text(int64_t value) { return std::to_string(value); }

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
