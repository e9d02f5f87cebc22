// The tables of trace_video receive.

#include "trace_video/receive_table.h"

#include <algorithm>

namespace {

Field count(int64_t value) { return Field::number(std::to_string(value)); }
Field optional_field(const std::optional<double>& value) {
  return Field::number(optional_number(value));
}

}  // namespace

// clang-format off
const std::vector<Figure<ReceiveSummary>> kSummaryFigures = {
    {"video_frames", "video_frames", "", [](const ReceiveSummary& s) { return count_text(s.video_frames); }},
    {"frames_received", "frames_received", "", [](const ReceiveSummary& s) { return count_text(s.frames_received); }},
    {"frames_lost", "frames_lost", "", [](const ReceiveSummary& s) { return count_text(s.frames_lost); }},
    {"frames_partial", "frames_partial", "", [](const ReceiveSummary& s) { return count_text(s.frames_partial); }},
    {"frames_late", "frames_late", "", [](const ReceiveSummary& s) { return count_text(s.frames_late); }},
    {"frames_unsent", "frames_unsent", "", [](const ReceiveSummary& s) { return count_text(s.frames_unsent); }},
    {"frames_unknown", "frames_unknown", "", [](const ReceiveSummary& s) { return count_text(s.frames_unknown); }},
    {"decodable_frames", "decodable_frames", "", [](const ReceiveSummary& s) { return count_text(s.decodable_frames); }},
    {"decodable_frame_rate", "decodable_frame_rate", "", [](const ReceiveSummary& s) {
       return s.video_frames > 0 ? optional_number(static_cast<double>(s.decodable_frames) / static_cast<double>(s.video_frames)) : std::nullopt; }},
    {"i_frames", "i_frames", "", [](const ReceiveSummary& s) { return count_text(s.frames[0]); }},
    {"i_received", "i_received", "", [](const ReceiveSummary& s) { return count_text(s.received[0]); }},
    {"i_decodable", "i_decodable", "", [](const ReceiveSummary& s) { return count_text(s.decodable[0]); }},
    {"p_frames", "p_frames", "", [](const ReceiveSummary& s) { return count_text(s.frames[1]); }},
    {"p_received", "p_received", "", [](const ReceiveSummary& s) { return count_text(s.received[1]); }},
    {"p_decodable", "p_decodable", "", [](const ReceiveSummary& s) { return count_text(s.decodable[1]); }},
    {"b_frames", "b_frames", "", [](const ReceiveSummary& s) { return count_text(s.frames[2]); }},
    {"b_received", "b_received", "", [](const ReceiveSummary& s) { return count_text(s.received[2]); }},
    {"b_decodable", "b_decodable", "", [](const ReceiveSummary& s) { return count_text(s.decodable[2]); }},
};
// clang-format on

std::vector<std::string> result_names(bool decode) {
  std::vector<std::string> names = names_of(kSummaryFigures);
  if (decode) names.insert(names.end(), quality_names().begin(), quality_names().end());
  return names;
}

std::string format_summary(const ReceiveResult& result, Format format) {
  std::vector<Column> columns;
  std::vector<Field> fields = result.fields;
  for (const std::string& name : result.names) columns.push_back({name, name, ""});
  // For a reader, the PSNR of the mean squared error first: the mean of the
  // slots' PSNRs counts identical pictures at 100 dB and reads far higher.
  // CSV and JSON keep their columns where other tools expect them.
  auto at = [&](const char* name) {
    return std::find_if(columns.begin(), columns.end(),
                        [&](const Column& c) { return c.name == name; }) -
           columns.begin();
  };
  auto mean = at("psnr_y_mean_db"), avg = at("psnr_avg_db");
  if (format == Format::kText && avg < static_cast<ptrdiff_t>(columns.size()) && mean < avg) {
    std::rotate(columns.begin() + mean, columns.begin() + avg, columns.begin() + avg + 1);
    std::rotate(fields.begin() + mean, fields.begin() + avg, fields.begin() + avg + 1);
  }
  return format_record(columns, fields, format);
}

std::vector<std::string> frame_columns(bool decode) {
  std::vector<std::string> names = {
      "frame",      "type",       "key",        "size",         "pts_s",
      "dts_s",      "sent_packets", "sent_bytes", "recv_packets", "recv_bytes",
      "arrival_s",  "deadline_s", "status",     "decodable"};
  if (decode)
    names.insert(names.end(),
                 {"display", "frozen", "mse_y", "psnr_y", "psnr_avg", "ssim_y", "mos"});
  return names;
}

std::vector<Field> frame_fields(const VideoFrame& f, const FrameRow* row, const FrameVerdict& v,
                                const SlotResult* slot) {
  FrameRow none;
  const FrameRow& r = row != nullptr ? *row : none;
  std::vector<Field> fields = {
      count(f.frame),
      Field::number(std::string(1, static_cast<char>(f.type))),
      count(f.key ? 1 : 0),
      count(f.size),
      optional_field(f.pts_s),
      optional_field(f.dts_s),
      count(r.sent_packets),
      count(r.sent_bytes),
      count(r.recv_packets),
      count(r.recv_bytes),
      optional_field(r.recv_packets > 0 ? std::optional(r.last_recv) : std::nullopt),
      optional_field(v.deadline_s),
      Field::number(status_name(v.status)),
      count(v.decodable ? 1 : 0)};
  if (slot != nullptr && slot->display < 0) {
    // A frame the undamaged stream never shows has no slot.
    fields.insert(fields.end(), 7, Field::number(std::nullopt));
  } else if (slot != nullptr) {
    const SlotFigures& q = slot->figures;
    fields.insert(fields.end(), {count(slot->display), count(slot->frozen ? 1 : 0),
                                 Field::number(number_text(q.mse_y)),
                                 Field::number(number_text(q.psnr_y())),
                                 Field::number(number_text(q.psnr_avg())),
                                 optional_field(q.ssim_y), count(q.mos())});
  }
  return fields;
}
