// trace_video send: a video file cut into packets, as the sender traces a
// simulator or test bed replays, and the video's frame table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "trace_io/run_state.h"

// The IPv4 and UDP headers around each packet's payload.
constexpr int32_t kIpUdpHeaders = 28;

struct SendOptions {
  int32_t mtu = 0;      // --mtu: the largest IP packet; 0: not given
  int32_t payload = 0;  // --payload: payload bytes per packet; 0: not given
  // The payload bytes per packet the options ask for (1024 by default).
  int32_t payload_bytes() const {
    return mtu > 0 ? mtu - kIpUdpHeaders : payload > 0 ? payload : 1024;
  }
  int sources = 3;            // frame f goes to source f mod sources
  double start = 0;           // send time of frame 0's first packet
  double gap = 0;             // between the packets of a frame
  std::optional<double> fps;  // for a stream without timestamps
};

// The number of packets frame of `size` bytes takes: mtu bytes each, the
// last one the rest; at least one, also for an empty frame.
int32_t packet_count(int32_t size, int32_t mtu);
// The payload of packet k of such a frame.
int32_t packet_payload(int32_t size, int32_t mtu, int32_t k);

// Writes OUTDIR/sd0, sd1, sd2 and OUTDIR/frames.csv for the first video
// stream of video (OUTDIR is created when missing). Fails with the
// message of the first problem.
void run_send(RunState& run, const SendOptions& options, const std::string& video,
              const std::string& outdir);
