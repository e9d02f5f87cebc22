// Formatting the figures. Numbers go through to_chars: the shortest form
// that reads back exactly, with a full stop whatever the locale.

#include "report_output.h"

#include <charconv>
#include <cmath>

namespace {

std::string integer(int64_t value) { return std::to_string(value); }

std::optional<std::string> optional_number(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return number_text(*value);
}

// Text output: label, column of the value, unit.
struct TextLine {
  const char* label;
  size_t column;     // index into the figures
  const char* unit;  // after the value
};
constexpr TextLine kTextLines[] = {
    {"packets sent", 0, ""},         {"packets received", 1, ""},    {"packets lost", 2, ""},
    {"packet loss", 3, " %"},        {"duplicate packets", 4, ""},   {"bytes sent", 5, " bytes"},
    {"bytes received", 6, " bytes"}, {"frames sent", 7, ""},         {"frames complete", 8, ""},
    {"frames partial", 9, ""},       {"frames lost", 10, ""},        {"frame loss", 11, " %"},
    {"frames unexpected", 12, ""},   {"delay mean", 13, " s"},       {"delay p50", 14, " s"},
    {"delay p95", 15, " s"},         {"delay p99", 16, " s"},        {"delay max", 17, " s"},
    {"jitter", 18, " s"},            {"bitrate", 19, " bit/s"},      {"source 0 frames sent", 20, ""},
    {"source 0 frames lost", 21, ""}, {"source 0 packets sent", 22, ""}, {"source 1 frames sent", 23, ""},
    {"source 1 frames lost", 24, ""}, {"source 1 packets sent", 25, ""}, {"source 2 frames sent", 26, ""},
    {"source 2 frames lost", 27, ""}, {"source 2 packets sent", 28, ""},
};

const char* status_name(FrameStatus status) {
  switch (status) {
    case FrameStatus::kComplete: return "complete";
    case FrameStatus::kPartial: return "partial";
    case FrameStatus::kLost: return "lost";
    case FrameStatus::kUnexpected: return "unexpected";
  }
  return "";
}

}  // namespace

std::string number_text(double value) {
  if (!std::isfinite(value)) return "";
  char buf[64];
  auto [end, error] = std::to_chars(buf, buf + sizeof buf, value);
  return error == std::errc() ? std::string(buf, end) : std::string();
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

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
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

const std::vector<std::string>& report_columns() {
  static const std::vector<std::string> columns = {
      "packets_sent",    "packets_received", "packets_lost",     "packet_loss_pct", "duplicate_packets",
      "bytes_sent",      "bytes_received",   "frames_sent",      "frames_complete", "frames_partial",
      "frames_lost",     "frame_loss_pct",   "frames_unexpected", "delay_mean_s",   "delay_p50_s",
      "delay_p95_s",     "delay_p99_s",      "delay_max_s",      "jitter_s",        "bitrate_bps",
      "s0_frames_sent",  "s0_frames_lost",   "s0_packets_sent",  "s1_frames_sent",  "s1_frames_lost",
      "s1_packets_sent", "s2_frames_sent",   "s2_frames_lost",   "s2_packets_sent"};
  return columns;
}

std::vector<std::optional<std::string>> report_values(const Report& r) {
  std::vector<std::optional<std::string>> v = {
      integer(r.packets_sent),           integer(r.packets_received),       integer(r.packets_lost),
      optional_number(r.packet_loss_pct), integer(r.duplicate_packets),     integer(r.bytes_sent),
      integer(r.bytes_received),         integer(r.frames_sent),            integer(r.frames_complete),
      integer(r.frames_partial),         integer(r.frames_lost),            optional_number(r.frame_loss_pct),
      integer(r.frames_unexpected),      optional_number(r.delay_mean_s),   optional_number(r.delay_p50_s),
      optional_number(r.delay_p95_s),    optional_number(r.delay_p99_s),    optional_number(r.delay_max_s),
      optional_number(r.jitter_s),       optional_number(r.bitrate_bps)};
  for (const Report::Source& s : r.source) {
    v.push_back(integer(s.frames_sent));
    v.push_back(integer(s.frames_lost));
    v.push_back(integer(s.packets_sent));
  }
  return v;
}

std::string format_report(const Report& report, Style style) {
  const std::vector<std::string>& columns = report_columns();
  std::vector<std::optional<std::string>> values = report_values(report);
  std::string out;
  switch (style) {
    case Style::kText: {
      size_t width = 0;
      for (const TextLine& line : kTextLines) width = std::max(width, std::string_view(line.label).size());
      for (const TextLine& line : kTextLines) {
        out += line.label;
        out += ':';
        out.append(width + 2 - std::string_view(line.label).size(), ' ');
        const std::optional<std::string>& value = values[line.column];
        out += value ? *value + line.unit : std::string("n/a");
        out += '\n';
      }
      break;
    }
    case Style::kCsv:
      for (size_t i = 0; i < columns.size(); ++i) out += (i ? "," : "") + columns[i];
      out += '\n';
      for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + values[i].value_or("");
      out += '\n';
      break;
    case Style::kJson:
      out += '{';
      for (size_t i = 0; i < columns.size(); ++i)
        out += (i ? "," : "") + json_string(columns[i]) + ":" + values[i].value_or("null");
      out += "}\n";
      break;
  }
  return out;
}

std::string format_frames(const std::vector<FrameRow>& frames) {
  std::string out =
      "frame,sources,sent_packets,sent_bytes,recv_packets,recv_bytes,first_send_s,last_recv_s,delay_s,status\n";
  for (const FrameRow& f : frames) {
    std::string sources;
    for (int s = 0; s < 3; ++s)
      if (f.sources & (1u << s)) sources += (sources.empty() ? "" : "+") + std::to_string(s);
    bool sent = f.status != FrameStatus::kUnexpected;
    out += std::to_string(f.frame) + "," + sources + "," + std::to_string(f.sent_packets) + "," +
           std::to_string(f.sent_bytes) + "," + std::to_string(f.recv_packets) + "," +
           std::to_string(f.recv_bytes) + "," + (sent ? number_text(f.first_send) : "") + "," +
           (f.recv_packets > 0 ? number_text(f.last_recv) : "") + "," +
           (f.has_delay() ? number_text(f.delay()) : "") + "," + status_name(f.status) + "\n";
  }
  return out;
}
