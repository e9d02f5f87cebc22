// trace_video receive: what the receiver got of each video frame, by the
// traces (frame_judge.h), the video it got, and what the viewer saw of it
// (quality.h).
#pragma once

#include <optional>
#include <string>

#include "trace_io/run_state.h"
#include "trace_video/receive_table.h"

class ReferenceCache;

struct ReceiveOptions {
  std::optional<double> playout_delay;
  std::string out;     // --out: the received video
  std::string frames;  // --frames: the per-frame table
  Format format = Format::kText;
  std::optional<double> fps;
  bool decode = true;     // the quality figures (--no-decode: without them)
  std::string reference;  // --reference: else VIDEO decoded
  std::string yuv;        // --yuv: the displayed frames as YUV4MPEG2
  bool full_decode = false;  // --full-decode: both streams decoded whole
  ReferenceCache* cache = nullptr;  // a sweep's reference pictures, shared by its runs
};

// Judges every frame of video by the four traces; writes --out and
// --frames when asked; unless --no-decode, decodes what was received and
// measures it against the reference slot by slot (quality.h). Notes go
// through the run. Fails with the first problem's message.
ReceiveResult run_receive(RunState& run, const ReceiveOptions& options, const std::string& video,
                          const std::string (&traces)[4]);
