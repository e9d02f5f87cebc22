// The trace set of one run: the records of the three sender traces and the
// receiver trace, the receiver frame table, the output files and the stages
// that line the traces up frame by frame. Read top to bottom, this header is
// the whole run: load (trace_input.cpp), the frame table (frame_table.cpp),
// summarise (sender_frame_size.cpp), write (trace_output.cpp), driven by
// run_control.cpp. The six output names are in outputs.h.
#pragma once

#include <cstdint>
#include <string>

#include "trace_align/frame_index.h"
#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/run_state.h"

// One sender-trace line: time col1 frame size col4 col5. col1 is read but
// not kept: no stage consults it, and a smaller record is less memory to
// fill.
struct SdRecord {
  TraceTime time;  // send time
  int32_t frame;
  int32_t size;
  int32_t col4;
  int32_t col5;
};

// One receiver-trace line: time src frame size col4. col4 is read but not
// kept, as col1 of a sender line.
struct RdRecord {
  TraceTime time;  // receive time
  int32_t src;
  int32_t frame;
  int32_t size;
};
static_assert(sizeof(SdRecord) == 24 && sizeof(RdRecord) == 20, "records without padding");

// One row of the receiver frame table and one line of rd_frame_dat.
struct RdFrame {
  int32_t frame;
  int32_t src;   // source of the last packet of the row's run; -1 before any
  int32_t size;  // summed size, wrapping modulo 2^32
};

// What the receiver trace's frame column says, gathered record by record
// as it loads: the rows of its frame table (one per run of equal frame
// numbers, one for the starting frame 0, one per frame number skipped
// forward; counted on 64 bits, no further once past INT32_MAX) and its
// first record out of frame order.
struct ReceiverFrames {
  void see(int32_t frame);
  int64_t rows = 1;
  int32_t previous = 0;        // frame of the last run
  int32_t in_order_up_to = 0;  // the highest frame before the first out of order
  int64_t out_of_order = -1;   // that record's index, -1 for none
  int32_t out_of_order_frame = 0;
  int64_t seen = 0;                // records seen
  const RdRecord* list = nullptr;  // the records they were, once loaded
};

// Number of records in a table file: its lines, a last line without newline
// included. Leaves the stream rewound; fails if it cannot be read twice.
int32_t count_lines(InputFile& stream);

// Every stage fails through fail() (failure.h); the run's state (which
// files it has, whether outputs exist, the thread choice, where messages
// go) is the RunState it is given. Threads: read_all parses sd_list/sd_num
// (and what loading sees of them) on the calling thread while a second
// thread parses rd_list/rd_num (and its own); start empties rd_trace_fp and
// sd_trace_fp on a second thread while the calling thread writes
// sd_frame_fp and the frame index;
// compare writes sd_trace_fp, sd_id and sd_cursor_ on the calling thread
// and rd_trace_fp, rd_id, rd_cursor_ and lost_cursor_ on a second.
// Everything else belongs to the calling thread, and each phase ends with
// both threads joined.
class TraceFile {
 public:
  explicit TraceFile(RunState& run) : run_(run) {}

  // Loading (trace_input.cpp). REQUIRES: 0 <= src <= 2.
  void read_sd(int32_t src, InputFile& stream);
  // Loads the receiver trace, then builds the frame table.
  void read_rd(InputFile& stream);
  // Builds the frame table from rd_list and writes it to rd_frame_dat
  // (frame_table.cpp).
  void create_rd_frame_table();
  // read_sd for sources 0, 1, 2 and read_rd on the four inputs, the
  // receiver trace parsed while the sender traces are.
  void read_all(InputFile (&inputs)[4]);
  // The same without the frame table: the records only, no file written.
  void load_all(InputFile (&inputs)[4]);

  // Sender frame summaries (sender_frame_size.cpp).
  void create_sd_frame_size();

  // Trace output (trace_output.cpp).
  // Creates the two aligned traces, then runs the output stages.
  void start();
  void write_sd(uint32_t src, uint32_t frame);
  void write_rd(uint32_t frame);
  void write_lost(uint32_t src, uint32_t frame);
  // Walks the frame table and writes both traces, each closed when its walk
  // is done. REQUIRES: both traces open.
  void compare();

  Array<SdRecord> sd_list[3];
  Array<RdRecord> rd_list;
  Array<RdFrame> rd_frame_list;
  OutFile rd_trace_fp;
  OutFile sd_trace_fp;
  OutFile rd_frame_fp;
  OutFile sd_frame_fp[3];
  int32_t rd_num = 0;
  int32_t sd_num[3] = {0, 0, 0};
  int32_t rd_frame_num = 0;
  int32_t rd_id = 0;
  alignas(64) int32_t sd_id = 0;  // apart from rd_id: two threads count them

 private:
  RunState& run_;
  void load_rd(InputFile& stream);
  // Prints a note when the receiver trace is not in frame order.
  void report_frame_order(const ReceiverFrames& frames) const;
  void build_frame_index();
  // compare once the frame index is built.
  void write_traces();
  void write_sd_rows(int64_t& row);
  void write_rd_rows(int64_t& row);
  FrameIndex sd_index_[3];
  FrameIndex rd_index_;
  bool sd_in_order_[3] = {false, false, false};  // as loading saw them
  bool rd_in_order_ = false;
  ReceiverFrames rd_frames_;  // as load_rd saw them
  // Where each walk stands in each trace: the sd_trace walk in the sender
  // traces; the rd_trace walk in the receiver trace and, for lost lines, in
  // the sender traces. Apart: two threads move them.
  alignas(64) FrameCursor sd_cursor_[3];
  alignas(64) FrameCursor rd_cursor_;
  FrameCursor lost_cursor_[3];
  std::string rd_path_;  // names the receiver trace in messages
};
