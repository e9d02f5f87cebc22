// Which frames need decoding to know what the viewer saw. A stretch runs
// from a random-access point that resets the decoder (random_access.h),
// and that arrived, to the next one. A stretch whose frames all arrived
// shows the undamaged stream's pictures exactly: its figures are known
// without decoding. Everything else is decoded, both streams, each from
// the start of its stretch.
#pragma once

#include <cstdint>
#include <vector>

// A frame as the plan needs it.
struct PlanFrame {
  bool resets = false;    // a random-access point
  bool received = false;  // went to the receiver's decoder
  bool ordered = false;   // its place in display order is known without decoding
};

// Frames [begin, end), decoded or known.
struct Stretch {
  int32_t begin = 0, end = 0;
  bool decode = false;
};

// The stretches of frames, in order, neighbours of one kind merged. A
// known stretch after a decoded one is at least `drain` frames long, or
// decoded too: the decoders of the damaged stretch are fed its first
// frames until they have given every picture of their own. reach_back:
// the decoder conceals a missing reference with a picture of the stretch
// before (random_access.h), which is then decoded too.
std::vector<Stretch> plan_stretches(const std::vector<PlanFrame>& frames, int32_t drain,
                                    bool reach_back);
