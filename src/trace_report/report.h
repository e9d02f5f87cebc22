// What a transmission lost and how late it arrived: the figures of one run,
// computed from its traces grouped by frame (trace_frames.h).
#pragma once

#include <cstdint>
#include <optional>

#include "trace_io/trace_frames.h"

// The figures of a run; an empty optional where there is nothing to compute
// it from (no complete frame, a zero duration, nothing sent).
struct Report {
  int64_t packets_sent = 0, packets_received = 0, packets_lost = 0, duplicate_packets = 0;
  std::optional<double> packet_loss_pct;
  int64_t bytes_sent = 0, bytes_received = 0;
  int64_t frames_sent = 0, frames_complete = 0, frames_partial = 0, frames_lost = 0;
  std::optional<double> frame_loss_pct;
  int64_t frames_unexpected = 0;
  int64_t frames_without_delay = 0;  // complete, but a time is not a finite number
  std::optional<double> delay_mean_s, delay_p50_s, delay_p95_s, delay_p99_s, delay_max_s, jitter_s,
      bitrate_bps;
  struct Source {
    int64_t frames_sent = 0, frames_lost = 0, packets_sent = 0;
  } source[3];
};

// The figures of a run from its frame table and its traces.
Report summarise(const RunPackets& trace, const std::vector<FrameRow>& frames);
