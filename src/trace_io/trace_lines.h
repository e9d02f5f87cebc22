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
  TraceTime time;  // send time
  int32_t col1, frame, size, col4, col5;
};
// One receiver-trace line.
struct ReceiverLine {
  TraceTime time;  // receive time
  int32_t src, frame, size, col4;
};
inline constexpr int kSenderColumns = 6;
inline constexpr int kReceiverColumns = 5;

// Bit k for column k (the time is column 0): the columns a loader ignores,
// which are then read, so that a short line fails alike, but not converted
// (they read as 0).
namespace columns {
inline constexpr uint32_t kSdCol1 = 1u << 1, kSdCol4 = 1u << 4, kSdCol5 = 1u << 5;
inline constexpr uint32_t kRdSrc = 1u << 1, kRdCol4 = 1u << 4;
}  // namespace columns

// Loads a sender trace with load_table; keep(line, record) makes each record.
template <typename Record, typename Keep>
void load_sender_trace(InputFile& in, Array<Record>& list, int32_t& num, uint32_t unused,
                       Keep keep) {
  load_table(
      in, kSenderColumns, list, num,
      [&keep](auto& f, Record& r) {
        SenderLine line;
        line.time = f.trace_time();
        line.col1 = f.int32();
        line.frame = f.int32();
        line.size = f.int32();
        line.col4 = f.int32();
        line.col5 = f.int32();
        keep(line, r);
      },
      unused);
}

// Loads a receiver trace the same way.
template <typename Record, typename Keep>
void load_receiver_trace(InputFile& in, Array<Record>& list, int32_t& num, uint32_t unused,
                         Keep keep) {
  load_table(
      in, kReceiverColumns, list, num,
      [&keep](auto& f, Record& r) {
        ReceiverLine line;
        line.time = f.trace_time();
        line.src = f.int32();
        line.frame = f.int32();
        line.size = f.int32();
        line.col4 = f.int32();
        keep(line, r);
      },
      unused);
}
