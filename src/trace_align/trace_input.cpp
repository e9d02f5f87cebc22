// Trace input: every table is read in one pass (load_table). Loads the
// sender and receiver traces; every problem with an input ends the run
// before any output file is touched, naming the file and, for a bad line,
// its number.

#include <cerrno>
#include <cstring>

#include "trace_align/trace_file.h"
#include "trace_io/failure.h"
#include "trace_io/line_reader.h"
#include "trace_io/runner.h"
#include "trace_io/trace_lines.h"

namespace {

// Where a one-thread run meets the two halves of loading: the sender
// traces are the earlier arguments.
constexpr OneThreadOrder kSenders{0, 0};
constexpr OneThreadOrder kReceiver{1, 0};

void rewind_or_fail(InputFile& in) {
  if (!in.rewind())
    fail(in.path + ": cannot read it a second time: " + std::strerror(errno) +
         " (give a regular file, not a pipe)");
}

}  // namespace

int32_t count_lines(InputFile& stream) {
  // Seek first: a pipe cannot be read twice, and finding out after
  // consuming it would be too late.
  rewind_or_fail(stream);
  std::unique_ptr<char[]> buf(new char[kReadBlock]);
  int64_t lines = 0;
  char last = '\n';
  while (size_t n = stream.read(buf.get(), kReadBlock)) {
    lines += count_newlines(buf.get(), n);
    last = buf[n - 1];
  }
  // A last line without newline is a record too.
  if (last != '\n') ++lines;
  if (lines > INT32_MAX) too_many_lines(stream);
  rewind_or_fail(stream);
  return static_cast<int32_t>(lines);
}

void TraceFile::read_sd(int32_t src, InputFile& stream) {
  // col1 is read, so that a short line fails, but kept nowhere.
  FrameOrderWatch order;
  load_trace<SenderLine>(stream, sd_list[src], sd_num[src], columns::kSdCol1,
                         [&order](const SenderLine& line, SdRecord& r) {
                           r = {line.time, line.frame, line.size, line.col4, line.col5};
                           order.see(r.frame);
                         });
  sd_in_order_[src] = order.in_order;
}

void TraceFile::load_rd(InputFile& stream) {
  rd_path_ = stream.path;
  FrameOrderWatch order;
  ReceiverFrames frames;
  load_trace<ReceiverLine>(stream, rd_list, rd_num, columns::kRdCol4,
                           [&order, &frames](const ReceiverLine& line, RdRecord& r) {
                             r = {line.time, line.src, line.frame, line.size};
                             order.see(r.frame);
                             frames.see(r.frame);
                           });
  rd_in_order_ = order.in_order;
  frames.list = rd_list.get();
  rd_frames_ = frames;
}

void TraceFile::read_rd(InputFile& stream) {
  load_rd(stream);
  create_rd_frame_table();
}

void TraceFile::read_all(InputFile (&inputs)[4]) {
  load_all(inputs);
  create_rd_frame_table();
}

void TraceFile::load_all(InputFile (&inputs)[4]) {
  load_side_by_side(run_, inputs, 4,
                    {[&] {
                       for (int32_t src = 0; src < 3; ++src) read_sd(src, inputs[src]);
                     },
                     kSenders},
                    {[&] { load_rd(inputs[3]); }, kReceiver}, [&] {
                      for (int32_t src = 0; src < 3; ++src) sd_list[src].reset(), sd_num[src] = 0;
                      rd_list.reset();
                      rd_num = 0;
                    });
}

void ReceiverFrames::see(int32_t frame) {
  if (frame != previous && rows <= INT32_MAX) {
    int64_t gap = static_cast<int64_t>(frame) - previous - 1;
    rows += 1 + (gap > 0 ? gap : 0);
    previous = frame;
  }
  if (out_of_order < 0) {
    if (frame >= in_order_up_to) {
      in_order_up_to = frame;
    } else {
      out_of_order = seen;
      out_of_order_frame = frame;
    }
  }
  ++seen;
}
