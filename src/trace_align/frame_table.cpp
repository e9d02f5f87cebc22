// The receiver frame table: one row per run of the receiver trace's
// records of one frame, frames skipped forward filled in, written to
// rd_frame_dat as it is built.

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>

#include "trace_align/frame_runs.h"
#include "trace_align/outputs.h"
#include "trace_align/trace_file.h"
#include "trace_io/failure.h"
#include "trace_io/memory.h"
#include "trace_io/table_loader.h"

namespace {

// Memory per row of the frame table: the row, and a start in the frame
// index of each of the four traces.
constexpr uint64_t kBytesPerRow = sizeof(RdFrame) + 4 * sizeof(uint32_t);

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

// The least size of rd_frame_dat for `rows` rows: every frame takes 16
// characters, the source and the size at least one each.
constexpr uint64_t kLeastRowBytes = 16 + 1 + 1 + 1 + 1 + 1;

// A frame-number jump can ask for a table file far larger than the trace:
// refused, before anything is created, when the working directory's file
// system cannot hold it (what an earlier rd_frame_dat holds there counts
// as free, since the run empties it).
void refuse_when_disk_too_small(int64_t rows) {
  uint64_t need = static_cast<uint64_t>(rows) * kLeastRowBytes;
  struct stat old;
  uint64_t freed = 0;
  if (::stat(kRdFrameDat, &old) == 0) {
    if (!S_ISREG(old.st_mode)) return;  // a device such as /dev/null keeps nothing
    freed = static_cast<uint64_t>(old.st_blocks) * 512;
  }
  struct statvfs fs;
  if (::statvfs(".", &fs) != 0) return;
  uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize + freed;
  if (need > free)
    fail(std::string(kRdFrameDat) + ": the receiver trace's frame numbers need " +
         std::to_string(rows) + " table rows, at least " + std::to_string(need >> 20) +
         " MiB of rd_frame_dat, more than the " + std::to_string(free >> 20) +
         " MiB free on the working directory's file system");
}

}  // namespace

void TraceFile::report_frame_order(const ReceiverFrames& frames) const {
  // The rows follow the trace, and compare takes a row's position for its
  // frame number: from the first line out of order on, the traces no
  // longer line up. The outputs stay what they always were; say so.
  if (frames.out_of_order < 0) return;
  int32_t frame = frames.out_of_order_frame;
  std::string what = frame < 0 ? "negative frame " + std::to_string(frame)
                               : "frame " + std::to_string(frame) + " after frame " +
                                     std::to_string(frames.in_order_up_to);
  run_.say(rd_path_ + ":" + std::to_string(frames.out_of_order + 1) +
           ": the receiver trace is not in frame order (" + what +
           "); rd_trace and sd_trace do not line up from there on: sort it by frame, "
           "keeping the order within a frame\n");
}

namespace {

// Fails when the table of rows rows cannot exist: more rows than an index
// holds, or more memory than the process can get.
void refuse_table_beyond_memory(int64_t rows) {
  if (rows > INT32_MAX)
    fail(std::string(kRdFrameDat) + ": the receiver trace's frame numbers need more than " +
         std::to_string(INT32_MAX) + " table rows");
  // Memory grows with the largest frame number, not with the trace: check
  // that the table and its index fit before touching anything, since an
  // allocation that succeeds under overcommit can still be killed later.
  uint64_t need = static_cast<uint64_t>(rows) * kBytesPerRow;
  uint64_t available = available_memory();
  if (need > available)
    fail(std::string(kRdFrameDat) + ": the receiver trace's frame numbers need " +
         std::to_string(rows) + " table rows (" + std::to_string(need >> 20) +
         " MiB with their index), more than the " + std::to_string(available >> 20) +
         " MiB of memory this process can get");
}

}  // namespace

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
  refuse_table_beyond_memory(rows);
  refuse_when_disk_too_small(rows);
  Array<RdFrame> table = allocate_records<RdFrame>(kRdFrameDat, static_cast<int32_t>(rows));

  rd_frame_fp.create(run_, kRdFrameDat);
  RdFrame* row = table.get();
  auto put_row = [&](int32_t frame, int32_t src, uint32_t sum) {
    *row++ = {frame, src, static_cast<int32_t>(sum)};
    rd_frame_fp.commit(put_frame_row(rd_frame_fp.reserve(), frame, src, static_cast<int32_t>(sum)));
  };
  int32_t previous = 0;  // the frame and source of the row before
  int32_t source = -1;
  bool first = true;
  for_each_frame_run(rd_list.get(), rd_num, [&](int32_t frame, uint32_t sum, const RdRecord* last) {
    // Frames skipped forward arrived not at all: filled in with size 0
    // and the source of the last packet before the gap.
    if (!first)
      for (int64_t f = int64_t{previous} + 1; f < frame; ++f)
        put_row(static_cast<int32_t>(f), source, 0);
    first = false;
    source = last != nullptr ? last->src : -1;
    previous = frame;
    put_row(frame, source, sum);
  });
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
  if (!back.open(kRdFrameDat, run_.one_thread))
    fail(std::string(kRdFrameDat) + ": cannot reopen for reading: " + std::strerror(errno));
  load_table(back, 3, rd_frame_list, rd_frame_num, [](auto& f, RdFrame& row) {
    row.frame = f.int32();
    row.src = f.int32();
    row.size = f.int32();
  });
}
