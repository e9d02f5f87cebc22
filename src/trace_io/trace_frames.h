// The traces of one transmission grouped by frame: what was sent of each
// frame over the three sender traces and what was received of it. Frames
// are identified by the frame column alone; a receiver record belongs to
// the frame of its frame column whatever its source column says. Every
// command that judges frames groups them here.
#pragma once

#include <cstdint>
#include <vector>

#include "trace_io/files.h"
#include "trace_io/run_state.h"

// What the figures need of a trace line: time, frame and size, 16 bytes.
struct Packet {
  double time;
  int32_t frame;
  int32_t size;
};

// The packets of a run's four traces, in trace order.
struct RunPackets {
  Array<Packet> sd[3];
  int32_t sd_num[3] = {0, 0, 0};
  Array<Packet> rd;
  int32_t rd_num = 0;
};

// Loads the four traces, sender traces while the receiver trace is, by the
// rules and with the messages every command loads traces with (fails with
// them).
void load_packets(const RunState& state, RunPackets& run, InputFile (&inputs)[4]);

enum class FrameStatus : uint8_t { kComplete, kPartial, kLost, kUnexpected };

// One frame: what was sent of it (over the three sender traces) and what
// was received.
struct FrameRow {
  int32_t frame = 0;
  FrameStatus status = FrameStatus::kLost;
  uint8_t sources = 0;  // bit s set when trace s holds a record of the frame
  int64_t sent_packets = 0;
  int64_t sent_bytes = 0;
  int64_t recv_packets = 0;
  int64_t recv_bytes = 0;
  double first_send = 0;  // smallest sender time (when sent)
  double last_recv = 0;   // largest receiver time (when received)
  double first_recv = 0;  // smallest receiver time (when received)
  bool has_delay() const { return status == FrameStatus::kComplete; }
  double delay() const { return last_recv - first_send; }
};

// The per-frame table: sent frames in ascending frame order, then the
// unexpected frames (received, never sent) in ascending frame order.
std::vector<FrameRow> frame_table(const RunPackets& trace);
