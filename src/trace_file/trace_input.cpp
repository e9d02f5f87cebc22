// Trace input: every table is read in one pass (load_table). Loads the
// sender and receiver traces, and builds the receiver frame table while
// writing it to rd_frame_dat. Every problem with an input ends the run
// before any output file is touched, naming the file and, for a bad line,
// its number.

#include <cerrno>
#include <cstring>

#include "failure.h"
#include "line_reader.h"
#include "table_loader.h"
#include "memory.h"
#include "runner.h"
#include "trace_file.h"

namespace {

constexpr const char* kFrameTableName = "rd_frame_dat";
// Columns read but kept nowhere: no need to convert them.
constexpr uint32_t kColumn1 = 1u << 1, kColumn4 = 1u << 4;
// Memory per row of the frame table: the row, and a start in the frame
// index of each of the four traces.
constexpr uint64_t kBytesPerRow = sizeof(RdFrame) + 4 * sizeof(uint32_t);
// Where a one-thread run meets the two halves of loading: the sender
// traces are the earlier arguments.
constexpr OneThreadOrder kSenders{0, 0};
constexpr OneThreadOrder kReceiver{1, 0};

void rewind_or_fail(InputFile& in) {
  if (!in.rewind())
    fail(in.path + ": cannot read it a second time: " + std::strerror(errno) +
         " (give a regular file, not a pipe)");
}

char* put_frame_row(char* out, int32_t frame, int32_t src, int32_t size) {
  out = put_int_left16(out, frame);
  *out++ = ' ';
  out = put_int(out, src);
  *out++ = ' ';
  out = put_int(out, size);
  *out++ = '\n';
  return out;
}
static_assert(16 + 1 + kMaxIntChars + 1 + kMaxIntChars + 1 + kWriterScratch <= OutFile::kMaxLine);

}  // namespace

void too_many_lines(const InputFile& in) {
  fail(in.path + ": too many lines (more than " + std::to_string(INT32_MAX) + ")");
}

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
  if (src < 0 || src > 2) {
    count_lines(stream);
    return;
  }
  FrameOrderWatch order;
  load_table(stream, 6, sd_list[src], sd_num[src], [&order](auto& f, SdRecord& r) {
    r.time = f.trace_time();
    f.int32();  // col1: read, so that a short line fails, but kept nowhere
    r.frame = f.int32();
    r.size = f.int32();
    r.col4 = f.int32();
    r.col5 = f.int32();
    order.see(r.frame);
  }, kColumn1);
  sd_in_order_[src] = order.in_order;
}

void TraceFile::load_rd(InputFile& stream) {
  rd_path_ = stream.path;
  FrameOrderWatch order;
  ReceiverFrames frames;
  load_table(stream, 5, rd_list, rd_num, [&order, &frames](auto& f, RdRecord& r) {
    r.time = f.trace_time();
    r.src = f.int32();
    r.frame = f.int32();
    r.size = f.int32();
    f.int32();  // col4
    order.see(r.frame);
    frames.see(r.frame);
  }, kColumn4);
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
  Outcome senders, receiver;
  run_side_by_side(
      [&] {
        senders = run_half(
            [&] {
              for (int32_t src = 0; src < 3; ++src) read_sd(src, inputs[src]);
            },
            kSenders);
      },
      [&] { receiver = run_half([&] { load_rd(inputs[3]); }, kReceiver); });
  rethrow_first_met(senders, receiver);
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

void TraceFile::report_frame_order(const ReceiverFrames& frames) const {
  // The rows follow the trace, and compare takes a row's position for its
  // frame number: from the first line out of order on, the traces no
  // longer line up. The outputs stay what they always were; say so.
  if (frames.out_of_order < 0) return;
  int32_t frame = frames.out_of_order_frame;
  std::string what = frame < 0 ? "negative frame " + std::to_string(frame)
                               : "frame " + std::to_string(frame) + " after frame " +
                                     std::to_string(frames.in_order_up_to);
  print_lines(rd_path_ + ":" + std::to_string(frames.out_of_order + 1) +
              ": the receiver trace is not in frame order (" + what +
              "); rd_trace and sd_trace do not line up from there on: sort it by frame, "
              "keeping the order within a frame\n");
}

void TraceFile::create_rd_frame_table() {
  // What loading saw of the frames, unless rd_list was set some other way.
  ReceiverFrames frames = rd_frames_;
  if (frames.seen != rd_num || frames.list != rd_list.get()) {
    frames = {};
    for (int32_t i = 0; i < rd_num; ++i) frames.see(rd_list[i].frame);
  }
  report_frame_order(frames);
  // The row count and the table come first, so that a table that cannot
  // exist ends the run before rd_frame_dat is created.
  int64_t rows = frames.rows;
  if (rows > INT32_MAX)
    fail(std::string(kFrameTableName) + ": the receiver trace's frame numbers need more than " +
         std::to_string(INT32_MAX) + " table rows");
  // Memory grows with the largest frame number, not with the trace: check
  // that the table and its index fit before touching anything, since an
  // allocation that succeeds under overcommit can still be killed later.
  uint64_t need = static_cast<uint64_t>(rows) * kBytesPerRow;
  uint64_t available = available_memory();
  if (need > available)
    fail(std::string(kFrameTableName) + ": the receiver trace's frame numbers need " + std::to_string(rows) +
         " table rows (" + std::to_string(need >> 20) + " MiB with their index), more than the " +
         std::to_string(available >> 20) + " MiB of memory this process can get");
  Array<RdFrame> table = allocate_records<RdFrame>(kFrameTableName, static_cast<int32_t>(rows));

  rd_frame_fp.create(kFrameTableName);
  RdFrame* row = table.get();
  auto put_row = [&](int32_t frame, int32_t src, uint32_t sum) {
    *row++ = {frame, src, static_cast<int32_t>(sum)};
    rd_frame_fp.commit(put_frame_row(rd_frame_fp.reserve(), frame, src, static_cast<int32_t>(sum)));
  };
  int32_t previous = 0;
  int32_t source = -1;
  uint32_t sum = 0;  // sizes wrap modulo 2^32
  for (int32_t i = 0; i < rd_num; ++i) {
    const RdRecord& r = rd_list[i];
    if (r.frame == previous) {
      sum += static_cast<uint32_t>(r.size);
    } else {
      put_row(previous, source, sum);
      sum = static_cast<uint32_t>(r.size);
      // Frames skipped forward arrived not at all: filled in with size 0
      // and the source of the last packet before the gap.
      for (int64_t f = int64_t{previous} + 1; f < r.frame; ++f) put_row(static_cast<int32_t>(f), source, 0);
    }
    source = r.src;
    previous = r.frame;
  }
  put_row(previous, source, sum);
  rd_frame_fp.close();

  // The table is what the file holds. Every write to a regular file was
  // checked, so reading it back would give these very rows; anything else
  // in its place (/dev/null) is read back for what it gives.
  if (rd_frame_fp.is_regular()) {
    rd_frame_list = std::move(table);
    rd_frame_num = static_cast<int32_t>(rows);
    return;
  }
  InputFile back;
  if (!back.open(kFrameTableName))
    fail(std::string(kFrameTableName) + ": cannot reopen for reading: " + std::strerror(errno));
  load_table(back, 3, rd_frame_list, rd_frame_num, [](auto& f, RdFrame& row) {
    row.frame = f.int32();
    row.src = f.int32();
    row.size = f.int32();
  });
}
