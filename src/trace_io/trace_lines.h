// The two trace line layouts every command reads, described once: a sender
// line "time col1 frame size col4 col5" and a receiver line "time src
// frame size col4". A command loads a trace into records of its own by
// saying which columns it ignores and how a line becomes a record.
#pragma once

#include <cstdint>

#include "trace_io/numbers.h"
#include "trace_io/table_loader.h"

// One sender-trace line, column by column.
struct SenderLine {
  static constexpr int kColumns = 6;
  TraceTime time;  // send time
  int32_t col1, frame, size, col4, col5;
  template <typename Fields>
  void read(Fields& f) {
    time = f.trace_time();
    col1 = f.int32();
    frame = f.int32();
    size = f.int32();
    col4 = f.int32();
    col5 = f.int32();
  }
};
// One receiver-trace line.
struct ReceiverLine {
  static constexpr int kColumns = 5;
  TraceTime time;  // receive time
  int32_t src, frame, size, col4;
  template <typename Fields>
  void read(Fields& f) {
    time = f.trace_time();
    src = f.int32();
    frame = f.int32();
    size = f.int32();
    col4 = f.int32();
  }
};

// Bit k for column k (the time is column 0): the columns a loader ignores,
// which are then read, so that a short line fails alike, but not converted
// (they read as 0).
namespace columns {
inline constexpr uint32_t kSdCol1 = 1u << 1, kSdCol4 = 1u << 4, kSdCol5 = 1u << 5;
inline constexpr uint32_t kRdSrc = 1u << 1, kRdCol4 = 1u << 4;
}  // namespace columns

// Loads a trace of Line (SenderLine or ReceiverLine) with load_table;
// keep(line, record) makes each record.
template <typename Line, typename Record, typename Keep>
void load_trace(InputFile& in, Array<Record>& list, int32_t& num, uint32_t unused, Keep keep) {
  load_table(
      in, Line::kColumns, list, num,
      [&keep](auto& f, Record& r) {
        Line line;
        line.read(f);
        keep(line, r);
      },
      unused);
}
