// The presentation times of a video's frames, numbered as trace_video
// numbers them: frame f is the f-th packet of the first video stream in
// decode order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace_io/run_state.h"

namespace trace_net {

// Frame f's presentation time in ticks of a `clock` Hz clock (rounded to
// the nearest tick), from the video, or from the frame table (frames.csv)
// that trace_video send wrote of it; fails naming the file when it cannot
// be read or a frame has no presentation time.
std::vector<int64_t> frame_times(RunState& run, const std::string& video, uint32_t clock);

}  // namespace trace_net
