// Formatting rows. Numbers go through to_chars: the shortest form that
// reads back exactly, with a full stop whatever the locale.

#include "trace_io/table_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

std::string number_text(double value) {
  if (!std::isfinite(value)) return "";
  char buf[64];
  auto [end, error] = std::to_chars(buf, buf + sizeof buf, value);
  return error == std::errc() ? std::string(buf, end) : std::string();
}

std::optional<std::string> optional_number(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return number_text(*value);
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

namespace {

// The length of the UTF-8 sequence at text[at], 0 when it is not one: no
// overlong forms, no surrogates, nothing above U+10FFFF.
size_t utf8_length(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char c = byte(at);
  if (c < 0x80) return 1;
  size_t n = c >= 0xC2 && c <= 0xDF   ? 2
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xF0 && c <= 0xF4 ? 4
                                      : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  unsigned char d = byte(at + 1);
  if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
      (c == 0xF4 && d > 0x8F))
    return 0;
  return n;
}

}  // namespace

bool is_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    size_t n = utf8_length(text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size(); ++at) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      size_t n = utf8_length(text, at);
      if (n == 0) {
        out += "\\ufffd";  // a byte that is no UTF-8: JSON must be
        continue;
      }
      out.append(text.substr(at, n));
      at += n - 1;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string csv_header(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) out += (i ? "," : "") + names[i];
  return out + '\n';
}

std::string csv_row(const std::vector<Field>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    const Field& f = fields[i];
    if (f.text) out += f.quoted ? csv_field(*f.text) : *f.text;
  }
  return out + '\n';
}

std::string json_object(const std::vector<std::string>& names, const std::vector<Field>& fields) {
  std::string out = "{";
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    if (i) out += ',';
    out += json_string(names[i]);
    out += ':';
    out += !f.text ? std::string("null") : f.quoted ? json_string(*f.text) : *f.text;
  }
  return out + "}";
}

std::string format_rows(const std::vector<std::string>& names,
                        const std::vector<std::vector<Field>>& rows, bool json) {
  std::string out;
  if (!json) {
    out = csv_header(names);
    for (const std::vector<Field>& row : rows) out += csv_row(row);
    return out;
  }
  out = "[\n";
  for (size_t i = 0; i < rows.size(); ++i)
    out += json_object(names, rows[i]) + (i + 1 < rows.size() ? ",\n" : "\n");
  return out + "]\n";
}

std::string format_record(const std::vector<Column>& columns, const std::vector<Field>& fields,
                          Format format) {
  std::vector<std::string> names;
  for (const Column& c : columns) names.push_back(c.name);
  if (format == Format::kCsv) return csv_header(names) + csv_row(fields);
  if (format == Format::kJson) return json_object(names, fields) + "\n";
  size_t width = 0;
  for (const Column& c : columns) width = std::max(width, c.label.size());
  std::string out;
  for (size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    out += c.label + ":" + std::string(width + 2 - c.label.size(), ' ');
    out += fields[i].text ? *fields[i].text + c.unit : std::string("n/a");
    out += '\n';
  }
  return out;
}
