// Formatting the figures, through the row builders every command shares.

#include "trace_report/report_output.h"

#include <algorithm>
#include <string_view>

#include "trace_io/table_output.h"

namespace {

using Value = std::optional<std::string>;
Value count(int64_t value) { return std::to_string(value); }

const char* status_name(FrameStatus status) {
  switch (status) {
    case FrameStatus::kComplete:
      return "complete";
    case FrameStatus::kPartial:
      return "partial";
    case FrameStatus::kLost:
      return "lost";
    case FrameStatus::kUnexpected:
      return "unexpected";
  }
  return "";
}

std::vector<std::string> figure_names() {
  std::vector<std::string> names;
  for (const Figure& f : kFigures) names.push_back(f.name);
  return names;
}

std::vector<Field> figure_fields(const Report& report) {
  std::vector<Field> fields;
  for (const Figure& f : kFigures) fields.push_back(Field::number(f.value(report)));
  return fields;
}

}  // namespace

// clang-format off
const std::vector<Figure> kFigures = {
    {"packets_sent", "packets sent", "", [](const Report& r) { return count(r.packets_sent); }},
    {"packets_received", "packets received", "", [](const Report& r) { return count(r.packets_received); }},
    {"packets_lost", "packets lost", "", [](const Report& r) { return count(r.packets_lost); }},
    {"packet_loss_pct", "packet loss", " %", [](const Report& r) { return optional_number(r.packet_loss_pct); }},
    {"duplicate_packets", "duplicate packets", "", [](const Report& r) { return count(r.duplicate_packets); }},
    {"bytes_sent", "bytes sent", " bytes", [](const Report& r) { return count(r.bytes_sent); }},
    {"bytes_received", "bytes received", " bytes", [](const Report& r) { return count(r.bytes_received); }},
    {"frames_sent", "frames sent", "", [](const Report& r) { return count(r.frames_sent); }},
    {"frames_complete", "frames complete", "", [](const Report& r) { return count(r.frames_complete); }},
    {"frames_partial", "frames partial", "", [](const Report& r) { return count(r.frames_partial); }},
    {"frames_lost", "frames lost", "", [](const Report& r) { return count(r.frames_lost); }},
    {"frame_loss_pct", "frame loss", " %", [](const Report& r) { return optional_number(r.frame_loss_pct); }},
    {"frames_unexpected", "frames unexpected", "", [](const Report& r) { return count(r.frames_unexpected); }},
    {"delay_mean_s", "delay mean", " s", [](const Report& r) { return optional_number(r.delay_mean_s); }},
    {"delay_p50_s", "delay p50", " s", [](const Report& r) { return optional_number(r.delay_p50_s); }},
    {"delay_p95_s", "delay p95", " s", [](const Report& r) { return optional_number(r.delay_p95_s); }},
    {"delay_p99_s", "delay p99", " s", [](const Report& r) { return optional_number(r.delay_p99_s); }},
    {"delay_max_s", "delay max", " s", [](const Report& r) { return optional_number(r.delay_max_s); }},
    {"jitter_s", "jitter", " s", [](const Report& r) { return optional_number(r.jitter_s); }},
    {"bitrate_bps", "bitrate", " bit/s", [](const Report& r) { return optional_number(r.bitrate_bps); }},
    {"s0_frames_sent", "source 0 frames sent", "", [](const Report& r) { return count(r.source[0].frames_sent); }},
    {"s0_frames_lost", "source 0 frames lost", "", [](const Report& r) { return count(r.source[0].frames_lost); }},
    {"s0_packets_sent", "source 0 packets sent", "", [](const Report& r) { return count(r.source[0].packets_sent); }},
    {"s1_frames_sent", "source 1 frames sent", "", [](const Report& r) { return count(r.source[1].frames_sent); }},
    {"s1_frames_lost", "source 1 frames lost", "", [](const Report& r) { return count(r.source[1].frames_lost); }},
    {"s1_packets_sent", "source 1 packets sent", "", [](const Report& r) { return count(r.source[1].packets_sent); }},
    {"s2_frames_sent", "source 2 frames sent", "", [](const Report& r) { return count(r.source[2].frames_sent); }},
    {"s2_frames_lost", "source 2 frames lost", "", [](const Report& r) { return count(r.source[2].frames_lost); }},
    {"s2_packets_sent", "source 2 packets sent", "", [](const Report& r) { return count(r.source[2].packets_sent); }},
    {"frames_without_delay", "frames without delay", "", [](const Report& r) { return count(r.frames_without_delay); }},
};
// clang-format on

std::string format_report(const Report& report, Style style) {
  if (style == Style::kCsv) return csv_header(figure_names()) + csv_row(figure_fields(report));
  if (style == Style::kJson) return json_object(figure_names(), figure_fields(report)) + "\n";
  size_t width = 0;
  for (const Figure& f : kFigures) width = std::max(width, std::string_view(f.label).size());
  std::string out;
  for (const Figure& f : kFigures) {
    out += f.label;
    out += ':';
    out.append(width + 2 - std::string_view(f.label).size(), ' ');
    Value value = f.value(report);
    out += value ? *value + f.unit : std::string("n/a");
    out += '\n';
  }
  return out;
}

std::string format_frames(const std::vector<FrameRow>& frames) {
  std::string out =
      "frame,sources,sent_packets,sent_bytes,recv_packets,recv_bytes,first_send_s,last_recv_s,"
      "delay_s,status\n";
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

std::string format_runs(const std::vector<RunLine>& runs, const std::vector<RunOutcome>& outcomes,
                        Style style) {
  std::vector<std::string> names = figure_names();
  names.insert(names.begin(), "run");
  names.push_back("error");
  std::vector<std::vector<Field>> rows;
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunOutcome& o = outcomes[i];
    std::vector<Field> row = {Field::string(runs[i].name)};
    if (o.report) {
      std::vector<Field> figures = figure_fields(*o.report);
      row.insert(row.end(), figures.begin(), figures.end());
    } else {
      row.resize(names.size() - 1);  // no figures: empty fields, JSON nulls
    }
    row.push_back(o.error.empty() ? Field{} : Field::string(o.error));
    rows.push_back(std::move(row));
  }
  return format_rows(names, rows, style == Style::kJson);
}
