// Records grouped by frame number, so that writing one frame touches only
// its own records and a run stays linear in its traces.
#pragma once

#include <algorithm>
#include <cstdint>

#include "trace_io/files.h"

// Where a trace's records of each frame below `rows` are. A trace in frame
// order (the usual case) needs no memory: its records of a frame follow one
// another, found by a cursor. Any other trace gets start[f]..start[f+1],
// positions into pos.
struct FrameIndex {
  uint32_t rows = 0;
  bool in_order = false;
  Array<uint32_t> start;
  Array<uint32_t> pos;
};

// A walk's place in one trace in frame order: where the last frame asked
// for ended. Frames asked for in increasing order cost one pass in all;
// any other frame is looked for from the start.
struct FrameCursor {
  uint32_t frame = 0;
  int32_t next = 0;
};

// Watches a trace's frame numbers as it loads: whether they never go down,
// compared as unsigned numbers (a negative frame is then larger than any
// row), which makes the trace in order for any number of rows.
struct FrameOrderWatch {
  uint32_t last = 0;
  bool in_order = true;
  void see(int32_t frame) {
    uint32_t f = static_cast<uint32_t>(frame);
    in_order &= f >= last;
    last = f;
  }
};

// An index array of count entries; fails when memory is short.
Array<uint32_t> allocate_index(size_t count);

// Groups the records of list by frame number over [0, rows): in order means
// the table's records come first, by frame, and the records outside it
// (frames sent after the last received one) only after them. Any other
// trace gets a counting sort of its record positions, which keeps the
// records of a frame in trace order. known_in_order: a FrameOrderWatch saw
// the trace in order, so it need not be looked at again.
template <typename Record>
void index_by_frame(FrameIndex& index, const Record* list, int32_t count, uint32_t rows,
                    bool known_in_order) {
  index.rows = rows;
  index.start.reset();
  index.pos.reset();
  index.in_order = true;
  if (known_in_order) return;
  bool outside_seen = false;
  uint32_t last = 0;
  for (int32_t i = 0; i < count && index.in_order; ++i) {
    uint32_t f = static_cast<uint32_t>(list[i].frame);
    if (f >= rows) {
      outside_seen = true;
      continue;
    }
    index.in_order = !outside_seen && f >= last;
    last = f;
  }
  if (index.in_order) return;
  index.start = allocate_index(size_t{rows} + 1);
  uint32_t* start = index.start.get();
  std::fill(start, start + rows + 1, 0u);
  for (int32_t i = 0; i < count; ++i) {
    uint32_t f = static_cast<uint32_t>(list[i].frame);
    if (f < rows) ++start[f + 1];
  }
  for (uint32_t f = 0; f < rows; ++f) start[f + 1] += start[f];
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
// trace order: by the cursor or through the index where it covers the
// frame, else by a walk over the whole trace.
template <typename Record, typename Fn>
void for_each_in_frame(const FrameIndex& index, const Record* list, int32_t count, uint32_t frame,
                       FrameCursor& cursor, Fn fn) {
  if (frame < index.rows && index.in_order) {
    if (frame <= cursor.frame) cursor.next = 0;  // not asked in increasing order: start again
    int32_t i = cursor.next;
    while (i < count && static_cast<uint32_t>(list[i].frame) < frame) ++i;
    for (; i < count && static_cast<uint32_t>(list[i].frame) == frame; ++i) fn(list[i]);
    cursor = {frame, i};
    return;
  }
  if (frame < index.rows && index.start) {
    for (uint32_t k = index.start[frame], end = index.start[frame + 1]; k < end; ++k)
      fn(list[index.pos[k]]);
    return;
  }
  for (int32_t i = 0; i < count; ++i)
    if (static_cast<uint32_t>(list[i].frame) == frame) fn(list[i]);
}
