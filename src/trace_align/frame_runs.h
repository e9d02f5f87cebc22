// The per-frame sums of a trace: the one walk behind rd_frame_dat and the
// sender frame-size files.
#pragma once

#include <cstdint>

// Calls row(frame, sum, last) for each run of adjacent records of one
// frame, in trace order: sum is the run's summed size, wrapping modulo
// 2^32, and last its last record. The walk starts at frame 0, so a trace
// that begins with another frame, or holds nothing, first gives an empty
// run of frame 0 (sum 0, last null), which readers of these files expect.
template <typename Record, typename Row>
void for_each_frame_run(const Record* list, int32_t count, Row row) {
  int32_t frame = 0;
  uint32_t sum = 0;
  const Record* last = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    if (list[i].frame != frame) {
      row(frame, sum, last);
      frame = list[i].frame;
      sum = 0;
    }
    sum += static_cast<uint32_t>(list[i].size);
    last = &list[i];
  }
  row(frame, sum, last);
}
