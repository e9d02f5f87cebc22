// Trace output: the start of the output stages, the walk over the receiver
// frame table and the writers of sd_trace and rd_trace lines. The records are grouped by frame
// number once (frame_index.h), so each frame costs only its own packets; the two traces are written
// by two walks on two threads.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trace_align/outputs.h"
#include "trace_align/trace_file.h"
#include "trace_io/failure.h"
#include "trace_io/numbers.h"
#include "trace_io/runner.h"

namespace {

constexpr int32_t kLostMarker = 9999;

// The widest line of each kind fits what OutFile::reserve grants: time,
// " id ", id, "  udp ", size, "   ", col4, "   ", col5 in 16, newline; and
// time, " id ", id in 16, " lost  ", marker in 16, newline.
constexpr size_t kWidestSdLine =
    kMaxTimeChars + 4 + kMaxIntChars + 6 + kMaxIntChars + 3 + kMaxIntChars + 3 + 16 + 1;
constexpr size_t kWidestLostLine = kMaxTimeChars + 4 + 16 + 7 + 16 + 1;
// Writers may store kWriterScratch bytes past what they write.
static_assert(kWidestSdLine + kWriterScratch <= OutFile::kMaxLine &&
              kWidestLostLine + kWriterScratch <= OutFile::kMaxLine);

// Where a one-thread run meets each part of the walks: row by row, the
// sd_trace lines of a row before its rd_trace lines; after the last row,
// rd_trace is closed before sd_trace.
enum WalkPart { kSenderLines, kReceiverLines, kCloseReceiverTrace, kCloseSenderTrace };

constexpr const char* kNoSrc = "Error...no src found\n";

// Where a one-thread run meets the two halves of the output start.
constexpr OneThreadOrder kEmptying{0, 0};
constexpr OneThreadOrder kSummaries{1, 0};

// A running id and its text, printf's "%d", counted up in place: most ids
// differ from the last in the last digit only, so they are not converted
// from binary one by one. Ids wrap modulo 2^32 rather than overflow on
// absurdly long traces; negative ids are converted each time.
class IdText {
 public:
  explicit IdText(int32_t id) { set(id); }
  int32_t value() const { return value_; }
  // Append the id as "%d" and "%-16d". REQUIRES: room for 16 bytes.
  char* put(char* out) const {
    std::memcpy(out, text_, 16);
    return out + length_;
  }
  char* put_left16(char* out) const {
    std::memcpy(out, text_, 16);
    return out + (length_ < 16 ? 16 : length_);
  }
  void next() {
    int32_t id = static_cast<int32_t>(static_cast<uint32_t>(value_) + 1u);
    if (id <= 0) return set(id);
    value_ = id;
    for (size_t i = length_; i-- > 0;) {
      if (text_[i] != '9') {
        ++text_[i];
        return;
      }
      text_[i] = '0';
    }
    set(id);  // one digit more
  }

 private:
  void set(int32_t id) {
    value_ = id;
    length_ = static_cast<size_t>(put_int(text_, id) - text_);
    std::memset(text_ + length_, ' ', sizeof text_ - length_);  // what "%-16d" pads with
  }
  int32_t value_;
  size_t length_;
  char text_[kMaxIntChars + kWriterScratch];
  static_assert(kMaxIntChars + kWriterScratch >= 16);
};

}  // namespace

void TraceFile::start() {
  sd_id = 0;
  rd_id = 0;
  // Both traces are opened before either is emptied, so that emptying them
  // (slow for the large files of an earlier run) goes on while the frame
  // sizes are written. Problems are still reported in creation order.
  if (!rd_trace_fp.open(run_, kRdTrace)) rd_trace_fp.cannot_create(errno);
  if (!sd_trace_fp.open(run_, kSdTrace)) {
    int error = errno;
    rd_trace_fp.empty();
    sd_trace_fp.cannot_create(error);
  }
  rethrow(side_by_side(run_,
                       {[&] {
                          create_sd_frame_size();
                          build_frame_index();
                        },
                        kSummaries},
                       {[&] {
                          rd_trace_fp.empty();
                          sd_trace_fp.empty();
                        },
                        kEmptying}));
  write_traces();
}

void TraceFile::build_frame_index() {
  uint32_t rows = rd_frame_num > 0 ? static_cast<uint32_t>(rd_frame_num) : 0;
  for (int src = 0; src < 3; ++src)
    index_by_frame(sd_index_[src], sd_list[src].get(), sd_num[src], rows, sd_in_order_[src]);
  index_by_frame(rd_index_, rd_list.get(), rd_num, rows, rd_in_order_);
  for (int src = 0; src < 3; ++src) sd_cursor_[src] = lost_cursor_[src] = {};
  rd_cursor_ = {};
}

void TraceFile::write_sd(uint32_t src, uint32_t frame) {
  if (src > 2) return run_.say(kNoSrc);
  IdText id(sd_id);
  for_each_in_frame(sd_index_[src], sd_list[src].get(), sd_num[src], frame, sd_cursor_[src],
                    [&](const SdRecord& r) {
                      char* out = put_time_left16(sd_trace_fp.reserve(), r.time);
                      out = std::copy_n(" id ", 4, out);
                      out = id.put(out);
                      id.next();
                      out = std::copy_n("  udp ", 6, out);
                      out = put_int(out, r.size);
                      out = std::copy_n("   ", 3, out);
                      out = put_int(out, r.col4);
                      out = std::copy_n("   ", 3, out);
                      out = put_int_left16(out, r.col5);
                      *out++ = '\n';
                      sd_trace_fp.commit(out);
                    });
  sd_id = id.value();
}

void TraceFile::write_rd(uint32_t frame) {
  IdText id(rd_id);
  for_each_in_frame(rd_index_, rd_list.get(), rd_num, frame, rd_cursor_, [&](const RdRecord& r) {
    char* out = put_time_left16(rd_trace_fp.reserve(), r.time);
    out = std::copy_n(" id ", 4, out);
    out = id.put(out);
    id.next();
    out = std::copy_n("  udp ", 6, out);
    out = put_int(out, r.size);
    *out++ = '\n';
    rd_trace_fp.commit(out);
  });
  rd_id = id.value();
}

void TraceFile::write_lost(uint32_t src, uint32_t frame) {
  if (src > 2) return run_.say(kNoSrc);
  // Readers of rd_trace expect one space less after "lost" for source 2.
  const char* lost = src == 2 ? " lost " : " lost  ";
  size_t lost_len = src == 2 ? 6 : 7;
  IdText id(rd_id);
  for_each_in_frame(sd_index_[src], sd_list[src].get(), sd_num[src], frame, lost_cursor_[src],
                    [&](const SdRecord& r) {
                      char* out = put_time_left16(rd_trace_fp.reserve(), r.time);
                      out = std::copy_n(" id ", 4, out);
                      out = id.put_left16(out);
                      id.next();
                      out = std::copy_n(lost, lost_len, out);
                      out = put_int_left16(out, kLostMarker);
                      *out++ = '\n';
                      rd_trace_fp.commit(out);
                    });
  rd_id = id.value();
}

// The sd_trace lines of each row: its packets as sent. row is where the
// walk stands, for the report of a failure.
void TraceFile::write_sd_rows(int64_t& row) {
  for (int32_t i = 0; i < rd_frame_num; ++i) {
    row = i;
    // Unsigned test: a negative source is no source either.
    uint32_t src = static_cast<uint32_t>(rd_frame_list[i].src);
    // The row position is the frame number; for a receiver trace in frame
    // order it equals the row's frame field.
    if (src <= 2) write_sd(src, static_cast<uint32_t>(i));
  }
}

// The rd_trace lines of each row: what arrived of its frame, or a lost line
// for each of its packets when nothing of it did.
void TraceFile::write_rd_rows(int64_t& row) {
  for (int32_t i = 0; i < rd_frame_num; ++i) {
    row = i;
    const RdFrame& frame = rd_frame_list[i];
    uint32_t src = static_cast<uint32_t>(frame.src);
    if (src > 2) continue;
    if (frame.size != 0)
      write_rd(static_cast<uint32_t>(i));
    else
      write_lost(src, static_cast<uint32_t>(i));
  }
}

void TraceFile::compare() {
  build_frame_index();
  write_traces();
}

void TraceFile::write_traces() {
  // sd_trace and rd_trace share nothing but the tables, so each is written
  // by its own walk over the rows, side by side, and closed as soon as it
  // is complete. Rows without a source are reported afterwards, up to where
  // a one-thread walk would have stopped.
  OneThreadOrder sd_at{0, kSenderLines};
  OneThreadOrder rd_at{0, kReceiverLines};
  Outcome failure = side_by_side(run_,
                                 {[&] {
                                    write_sd_rows(sd_at.step);
                                    sd_at = {rd_frame_num, kCloseSenderTrace};
                                    sd_trace_fp.close();
                                  },
                                  sd_at},
                                 {[&] {
                                    write_rd_rows(rd_at.step);
                                    rd_at = {rd_frame_num, kCloseReceiverTrace};
                                    rd_trace_fp.close();
                                  },
                                  rd_at});
  int64_t reached = failure ? failure->at.step : rd_frame_num;
  constexpr size_t kReportChunk = size_t{64} << 10;  // printed a chunk at a time
  std::string report;
  for (int64_t i = 0; i < reached; ++i) {
    if (static_cast<uint32_t>(rd_frame_list[i].src) > 2) report += kNoSrc;
    if (report.size() >= kReportChunk) {
      run_.say(report);
      report.clear();
    }
  }
  if (!report.empty()) run_.say(report);
  rethrow(failure);
}
