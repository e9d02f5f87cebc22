// The figures over the frames of a run.

#include "trace_report/report.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "trace_io/statistics.h"

namespace {

// Received bits over the received span: receiver records of sent frames
// only; nothing without a span.
std::optional<double> bitrate(const Report& r, const std::vector<FrameRow>& frames) {
  double first = std::numeric_limits<double>::infinity(), last = -first;
  for (const FrameRow& f : frames) {
    if (f.status == FrameStatus::kUnexpected || f.recv_packets == 0) continue;
    if (std::isfinite(f.first_recv)) first = std::min(first, f.first_recv);
    if (std::isfinite(f.last_recv)) last = std::max(last, f.last_recv);
  }
  if (r.packets_received > 0 && last - first > 0)
    return 8.0 * static_cast<double>(r.bytes_received) / (last - first);
  return std::nullopt;
}

// The packets and bytes the senders sent.
void count_sent(const RunPackets& trace, Report& r) {
  for (int s = 0; s < 3; ++s) {
    r.source[s].packets_sent = trace.sd_num[s];
    r.packets_sent += trace.sd_num[s];
    for (int32_t i = 0; i < trace.sd_num[s]; ++i) r.bytes_sent += trace.sd[s][i].size;
  }
}

}  // namespace

Report summarise(const RunPackets& trace, const std::vector<FrameRow>& frames) {
  Report r;
  std::vector<double> delays;
  double delay_sum = 0, jitter_sum = 0;
  std::optional<double> previous_delay;
  int64_t jitter_pairs = 0;
  for (const FrameRow& f : frames) {
    if (f.status == FrameStatus::kUnexpected) {
      ++r.frames_unexpected;
      continue;
    }
    ++r.frames_sent;
    r.packets_received += f.recv_packets;
    r.bytes_received += f.recv_bytes;
    r.packets_lost += std::max<int64_t>(0, f.sent_packets - f.recv_packets);
    r.duplicate_packets += std::max<int64_t>(0, f.recv_packets - f.sent_packets);
    if (f.status == FrameStatus::kLost) ++r.frames_lost;
    if (f.status == FrameStatus::kPartial) ++r.frames_partial;
    for (int s = 0; s < 3; ++s) {
      if (!(f.sources & (1u << s))) continue;
      ++r.source[s].frames_sent;
      if (f.status == FrameStatus::kLost) ++r.source[s].frames_lost;
    }
    if (!f.has_delay()) continue;
    ++r.frames_complete;
    double d = f.delay();
    // A NaN or infinite time gives a delay that no figure can hold.
    if (!std::isfinite(d)) {
      ++r.frames_without_delay;
      continue;
    }
    delays.push_back(d);
    delay_sum += d;
    if (previous_delay) {
      jitter_sum += std::fabs(d - *previous_delay);
      ++jitter_pairs;
    }
    previous_delay = d;
  }
  count_sent(trace, r);
  if (r.packets_sent > 0)
    r.packet_loss_pct =
        100.0 * static_cast<double>(r.packets_lost) / static_cast<double>(r.packets_sent);
  if (r.frames_sent > 0)
    r.frame_loss_pct =
        100.0 * static_cast<double>(r.frames_lost) / static_cast<double>(r.frames_sent);
  if (!delays.empty()) {
    r.delay_mean_s = delay_sum / static_cast<double>(delays.size());
    r.delay_max_s = *std::max_element(delays.begin(), delays.end());
    r.delay_p50_s = nearest_rank(delays, 50);
    r.delay_p95_s = nearest_rank(delays, 95);
    r.delay_p99_s = nearest_rank(delays, 99);
  }
  if (jitter_pairs > 0) r.jitter_s = jitter_sum / static_cast<double>(jitter_pairs);
  r.bitrate_bps = bitrate(r, frames);
  return r;
}
