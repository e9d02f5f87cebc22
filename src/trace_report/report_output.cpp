// Formatting the figures, through the row builders every command shares.

#include "trace_report/report_output.h"

namespace {

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

}  // namespace

// clang-format off
const std::vector<Figure<Report>> kFigures = {
    {"packets_sent", "packets sent", "", [](const Report& r) { return count_text(r.packets_sent); }},
    {"packets_received", "packets received", "", [](const Report& r) { return count_text(r.packets_received); }},
    {"packets_lost", "packets lost", "", [](const Report& r) { return count_text(r.packets_lost); }},
    {"packet_loss_pct", "packet loss", " %", [](const Report& r) { return optional_number(r.packet_loss_pct); }},
    {"duplicate_packets", "duplicate packets", "", [](const Report& r) { return count_text(r.duplicate_packets); }},
    {"bytes_sent", "bytes sent", " bytes", [](const Report& r) { return count_text(r.bytes_sent); }},
    {"bytes_received", "bytes received", " bytes", [](const Report& r) { return count_text(r.bytes_received); }},
    {"frames_sent", "frames sent", "", [](const Report& r) { return count_text(r.frames_sent); }},
    {"frames_complete", "frames complete", "", [](const Report& r) { return count_text(r.frames_complete); }},
    {"frames_partial", "frames partial", "", [](const Report& r) { return count_text(r.frames_partial); }},
    {"frames_lost", "frames lost", "", [](const Report& r) { return count_text(r.frames_lost); }},
    {"frame_loss_pct", "frame loss", " %", [](const Report& r) { return optional_number(r.frame_loss_pct); }},
    {"frames_unexpected", "frames unexpected", "", [](const Report& r) { return count_text(r.frames_unexpected); }},
    {"delay_mean_s", "delay mean", " s", [](const Report& r) { return optional_number(r.delay_mean_s); }},
    {"delay_p50_s", "delay p50", " s", [](const Report& r) { return optional_number(r.delay_p50_s); }},
    {"delay_p95_s", "delay p95", " s", [](const Report& r) { return optional_number(r.delay_p95_s); }},
    {"delay_p99_s", "delay p99", " s", [](const Report& r) { return optional_number(r.delay_p99_s); }},
    {"delay_max_s", "delay max", " s", [](const Report& r) { return optional_number(r.delay_max_s); }},
    {"jitter_s", "jitter", " s", [](const Report& r) { return optional_number(r.jitter_s); }},
    {"bitrate_bps", "bitrate", " bit/s", [](const Report& r) { return optional_number(r.bitrate_bps); }},
    {"s0_frames_sent", "source 0 frames sent", "", [](const Report& r) { return count_text(r.source[0].frames_sent); }},
    {"s0_frames_lost", "source 0 frames lost", "", [](const Report& r) { return count_text(r.source[0].frames_lost); }},
    {"s0_packets_sent", "source 0 packets sent", "", [](const Report& r) { return count_text(r.source[0].packets_sent); }},
    {"s1_frames_sent", "source 1 frames sent", "", [](const Report& r) { return count_text(r.source[1].frames_sent); }},
    {"s1_frames_lost", "source 1 frames lost", "", [](const Report& r) { return count_text(r.source[1].frames_lost); }},
    {"s1_packets_sent", "source 1 packets sent", "", [](const Report& r) { return count_text(r.source[1].packets_sent); }},
    {"s2_frames_sent", "source 2 frames sent", "", [](const Report& r) { return count_text(r.source[2].frames_sent); }},
    {"s2_frames_lost", "source 2 frames lost", "", [](const Report& r) { return count_text(r.source[2].frames_lost); }},
    {"s2_packets_sent", "source 2 packets sent", "", [](const Report& r) { return count_text(r.source[2].packets_sent); }},
    {"frames_without_delay", "frames without delay", "", [](const Report& r) { return count_text(r.frames_without_delay); }},
};
// clang-format on

std::string format_report(const Report& report, Format format) {
  return format_record(columns_of(kFigures), fields_of(kFigures, report), format);
}

std::string format_frames(const std::vector<FrameRow>& frames) {
  std::string out = csv_header({"frame", "sources", "sent_packets", "sent_bytes", "recv_packets",
                                "recv_bytes", "first_send_s", "last_recv_s", "delay_s", "status"});
  for (const FrameRow& f : frames) {
    std::string sources;
    for (int s = 0; s < 3; ++s)
      if (f.sources & (1u << s)) sources += (sources.empty() ? "" : "+") + std::to_string(s);
    bool sent = f.status != FrameStatus::kUnexpected;
    auto number = [](bool given, double value) {
      return Field::number(given ? std::optional(number_text(value)) : std::nullopt);
    };
    out += csv_row({Field::number(std::to_string(f.frame)), Field::number(sources),
                    Field::number(std::to_string(f.sent_packets)),
                    Field::number(std::to_string(f.sent_bytes)),
                    Field::number(std::to_string(f.recv_packets)),
                    Field::number(std::to_string(f.recv_bytes)), number(sent, f.first_send),
                    number(f.recv_packets > 0, f.last_recv), number(f.has_delay(), f.delay()),
                    Field::number(status_name(f.status))});
  }
  return out;
}
