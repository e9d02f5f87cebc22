// Trace output: the walk over the receiver frame table and the writers of
// sd_trace and rd_trace lines. The records are grouped by frame number
// once, so each frame costs only its own packets and a run stays linear;
// the two traces are written by two walks on two threads.

#include <algorithm>

#include "trace_file.h"

namespace {

constexpr int32_t kLostMarker = 9999;

void report_no_src() { std::fputs("Error...no src found\n", stdout); }

// Ids wrap modulo 2^32 rather than overflow on absurdly long traces.
int32_t next_id(int32_t& id) {
  int32_t current = id;
  id = static_cast<int32_t>(static_cast<uint32_t>(id) + 1u);
  return current;
}

Array<uint32_t> allocate_index(size_t count) {
  Array<uint32_t> array = allocate_array<uint32_t>(count);
  if (!array) fail("cannot allocate memory to group the traces by frame");
  return array;
}

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
void for_each_in_frame(const FrameIndex& index, const Record* list, int32_t count,
                       uint32_t frame, Fn fn) {
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

// Lowers the shared end of the walks to value, unless it is lower already.
void lower_end(std::atomic<int32_t>& end, int32_t value) {
  int32_t current = end.load();
  while (value < current && !end.compare_exchange_weak(current, value)) {
  }
}

}  // namespace

void TraceFile::build_frame_index() {
  uint32_t rows = rd_frame_num > 0 ? static_cast<uint32_t>(rd_frame_num) : 0;
  for (int src = 0; src < 3; ++src) index_by_frame(sd_index_[src], sd_list[src].get(), sd_num[src], rows);
  index_by_frame(rd_index_, rd_list.get(), rd_num, rows);
}

void TraceFile::write_sd(uint32_t src, uint32_t frame) {
  if (src > 2) return report_no_src();
  int32_t id = sd_id;  // kept in a register while the frame is written
  for_each_in_frame(sd_index_[src], sd_list[src].get(), sd_num[src], frame, [&](const SdRecord& r) {
    char* out = put_time_left16(sd_trace_fp.reserve(), r.time);
    out = std::copy_n(" id ", 4, out);
    out = put_int(out, next_id(id));
    out = std::copy_n("  udp ", 6, out);
    out = put_int(out, r.size);
    out = std::copy_n("   ", 3, out);
    out = put_int(out, r.col4);
    out = std::copy_n("   ", 3, out);
    out = put_int_left16(out, r.col5);
    *out++ = '\n';
    sd_trace_fp.commit(out);
  });
  sd_id = id;
}

void TraceFile::write_rd(uint32_t frame) {
  int32_t id = rd_id;
  for_each_in_frame(rd_index_, rd_list.get(), rd_num, frame, [&](const RdRecord& r) {
    char* out = put_time_left16(rd_trace_fp.reserve(), r.time);
    out = std::copy_n(" id ", 4, out);
    out = put_int(out, next_id(id));
    out = std::copy_n("  udp ", 6, out);
    out = put_int(out, r.size);
    *out++ = '\n';
    rd_trace_fp.commit(out);
  });
  rd_id = id;
}

void TraceFile::write_lost(uint32_t src, uint32_t frame) {
  if (src > 2) return report_no_src();
  // Readers of rd_trace expect one space less after "lost" for source 2.
  const char* lost = src == 2 ? " lost " : " lost  ";
  size_t lost_len = src == 2 ? 6 : 7;
  int32_t id = rd_id;
  for_each_in_frame(sd_index_[src], sd_list[src].get(), sd_num[src], frame, [&](const SdRecord& r) {
    char* out = put_time_left16(rd_trace_fp.reserve(), r.time);
    out = std::copy_n(" id ", 4, out);
    out = put_int_left16(out, next_id(id));
    out = std::copy_n(lost, lost_len, out);
    out = put_int_left16(out, kLostMarker);
    *out++ = '\n';
    rd_trace_fp.commit(out);
  });
  rd_id = id;
}

// The sd_trace lines of rows [0, end): each row's packets as sent. row,
// shared with the other thread, is written only when the walk ends; a
// failing row becomes the end of the other walk too.
void TraceFile::write_sd_rows(std::atomic<int32_t>& end, int32_t& row) {
  int32_t i = 0;
  try {
    for (; i < end.load(std::memory_order_relaxed); ++i) {
      // Unsigned test: a negative source is no source either.
      uint32_t src = static_cast<uint32_t>(rd_frame_list[i].src);
      // The row position is the frame number; for a receiver trace in
      // frame order it equals the row's frame field.
      if (src <= 2) write_sd(src, static_cast<uint32_t>(i));
    }
  } catch (...) {
    row = i;
    lower_end(end, i);
    throw;
  }
  row = i;
}

// The rd_trace lines of rows [0, end): what arrived of each row's frame,
// or a lost line for each of its packets when nothing of it did.
void TraceFile::write_rd_rows(std::atomic<int32_t>& end, int32_t& row) {
  int32_t i = 0;
  try {
    for (; i < end.load(std::memory_order_relaxed); ++i) {
      const RdFrame& frame = rd_frame_list[i];
      uint32_t src = static_cast<uint32_t>(frame.src);
      if (src > 2) continue;
      if (frame.size != 0)
        write_rd(static_cast<uint32_t>(i));
      else
        write_lost(src, static_cast<uint32_t>(i));
    }
  } catch (...) {
    row = i;
    lower_end(end, i + 1);  // the sd_trace lines of the failing row come before it
    throw;
  }
  row = i;
}

void TraceFile::compare() {
  build_frame_index();
  write_traces(false);
}

void TraceFile::write_traces(bool close) {
  // sd_trace and rd_trace share nothing but the tables, so each is written
  // by its own walk over the rows, side by side, and closed as soon as it is
  // complete. The run must still end as one row-by-row walk would: a walk
  // that fails at a row lets the other stop after it, and then the rows
  // before it are reported, then the failure.
  alignas(64) std::atomic<int32_t> end{rd_frame_num};  // read on every row by both
  alignas(64) int32_t sd_row = 0;
  alignas(64) int32_t rd_row = 0;
  JobResult sd, rd;
  run_side_by_side(
      [&] {
        write_sd_rows(end, sd_row);
        if (close && sd_row == rd_frame_num) sd_trace_fp.close();
      },
      sd,
      [&] {
        write_rd_rows(end, rd_row);
        if (close && rd_row == rd_frame_num) rd_trace_fp.close();
      },
      rd);
  // Where a failure falls in the one-thread order: row by row, the sd_trace
  // lines of a row first; after the last row, rd_trace is closed first.
  int64_t rows = rd_frame_num;
  int64_t sd_at = !sd.failed ? INT64_MAX : sd_row < rows ? 2 * int64_t{sd_row} : 2 * rows + 3;
  int64_t rd_at = !rd.failed ? INT64_MAX : rd_row < rows ? 2 * int64_t{rd_row} + 1 : 2 * rows + 2;
  int64_t reached = std::min(std::min(sd_at, rd_at) / 2, rows);
  for (int64_t i = 0; i < reached; ++i)
    if (static_cast<uint32_t>(rd_frame_list[i].src) > 2) report_no_src();
  if (rd_at < sd_at) end_run(rd.message);
  if (sd.failed) end_run(sd.message);
}
