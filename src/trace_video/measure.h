// What the viewer saw: the received frames decoded beside the reference,
// and measured slot by slot in display order (VIDEO's frames by
// presentation time).
#pragma once

#include <string>
#include <vector>

#include "trace_io/run_state.h"
#include "trace_video/receive.h"

// A frame as the first pass judged it.
struct Judged {
  VideoFrame frame;
  FrameVerdict verdict;
  const FrameRow* row;
};

// Decodes the frames of video judged received and the reference (VIDEO
// itself unless --reference), writes --yuv when asked, and fills
// slots[f] for every frame f. Only the damaged stretches are decoded where
// the stream's random-access points allow it (resets_trusted: the frames'
// `resets` hold) and --full-decode is not asked; the figures are the same.
// The pictures held are the decoders' own and a few queued: a fixed
// number, whatever the video's length.
QualitySummary measure(RunState& run, const ReceiveOptions& options, const std::string& video,
                       const std::vector<Judged>& judged, bool resets_trusted,
                       std::vector<SlotResult>& slots);
