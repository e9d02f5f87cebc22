// Records grouped by frame number, so that writing one frame touches only
// its own records and a run stays linear in its traces.
#pragma once

#include <algorithm>
#include <cstdint>

#include "files.h"

// start[f]..start[f+1] index into pos for each frame f below rows.
struct FrameIndex {
  uint32_t rows = 0;
  Array<uint32_t> start;
  Array<uint32_t> pos;  // empty when the trace is in frame order already
};

// An index array of count entries; fails when memory is short.
Array<uint32_t> allocate_index(size_t count);

// Counting sort of record positions by frame number over [0, rows): the
// records of a frame keep their trace order. A trace already in frame order
// (the usual case) needs only the frames' starts.
template <typename Record>
void index_by_frame(FrameIndex& index, const Record* list, int32_t count, uint32_t rows) {
  index.rows = rows;
  index.start = allocate_index(size_t{rows} + 1);
  index.pos.reset();
  uint32_t* start = index.start.get();
  std::fill(start, start + rows + 1, 0u);
  // In order: the table's records come first, by frame; records outside
  // the table (frames sent after the last received one) only after them.
  bool in_order = true;
  bool outside_seen = false;
  uint32_t last = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t f = static_cast<uint32_t>(list[i].frame);
    if (f >= rows) {
      outside_seen = true;
      continue;
    }
    in_order = in_order && !outside_seen && f >= last;
    last = f;
    ++start[f + 1];
  }
  for (uint32_t f = 0; f < rows; ++f) start[f + 1] += start[f];
  if (in_order) return;
  index.pos = allocate_index(start[rows]);
  uint32_t* pos = index.pos.get();
  // Fill by advancing each frame's start, then shift the starts back.
  for (int32_t i = 0; i < count; ++i) {
    uint32_t f = static_cast<uint32_t>(list[i].frame);
    if (f < rows) pos[start[f]++] = static_cast<uint32_t>(i);
  }
  for (uint32_t f = rows; f > 0; --f) start[f] = start[f - 1];
  start[0] = 0;
}

// Calls fn on each record whose frame has the bit pattern of `frame`, in
// trace order: through the index where it covers the frame, else by a walk.
template <typename Record, typename Fn>
void for_each_in_frame(const FrameIndex& index, const Record* list, int32_t count, uint32_t frame,
                       Fn fn) {
  if (index.start && frame < index.rows) {
    uint32_t begin = index.start[frame], end = index.start[frame + 1];
    if (index.pos) {
      for (uint32_t k = begin; k < end; ++k) fn(list[index.pos[k]]);
    } else {
      for (uint32_t k = begin; k < end; ++k) fn(list[k]);
    }
    return;
  }
  for (int32_t i = 0; i < count; ++i)
    if (static_cast<uint32_t>(list[i].frame) == frame) fn(list[i]);
}
