// Grouping records by frame. Frame numbers of a trace are usually dense:
// they index an array directly; sparse ones go through a sort.

#include "trace_io/trace_frames.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "trace_io/runner.h"
#include "trace_io/trace_lines.h"

namespace {

// Direct indexing while the frame span stays within this many slots per
// record (plus a floor), else sorting.
constexpr int64_t kSlotsPerRecord = 4;
constexpr int64_t kMinSlots = 1 << 16;

// Applies fn(packet, source) to every packet; source -1 for the receiver's.
template <typename Fn>
void for_each_record(const RunPackets& trace, Fn fn) {
  for (int s = 0; s < 3; ++s)
    for (int32_t i = 0; i < trace.sd_num[s]; ++i) fn(trace.sd[s][i], s);
  for (int32_t i = 0; i < trace.rd_num; ++i) fn(trace.rd[i], -1);
}

// The least (or greatest) time of a frame so far; a NaN among them makes
// it NaN, whatever the order of the records.
void keep_least(double& at, double t, bool first) {
  if (first || std::isnan(t) || (!std::isnan(at) && t < at)) at = t;
}
void keep_greatest(double& at, double t, bool first) {
  if (first || std::isnan(t) || (!std::isnan(at) && t > at)) at = t;
}

void add_sent(FrameRow& row, const Packet& r, int src) {
  keep_least(row.first_send, r.time, row.sent_packets == 0);
  ++row.sent_packets;
  row.sent_bytes += r.size;
  row.sources = static_cast<uint8_t>(row.sources | (1u << src));
}

void add_received(FrameRow& row, const Packet& r) {
  keep_greatest(row.last_recv, r.time, row.recv_packets == 0);
  keep_least(row.first_recv, r.time, row.recv_packets == 0);
  ++row.recv_packets;
  row.recv_bytes += r.size;
}

void settle(FrameRow& row) {
  if (row.sent_packets == 0)
    row.status = FrameStatus::kUnexpected;
  else if (row.recv_packets == 0)
    row.status = FrameStatus::kLost;
  else if (row.recv_packets < row.sent_packets)
    row.status = FrameStatus::kPartial;
  else
    row.status = FrameStatus::kComplete;
}

}  // namespace

void load_packets(const RunState& state, RunPackets& run, InputFile (&inputs)[4]) {
  // Only time, frame and size are kept; the other columns are not converted.
  constexpr uint32_t kSenderUnused = columns::kSdCol1 | columns::kSdCol4 | columns::kSdCol5;
  constexpr uint32_t kReceiverUnused = columns::kRdSrc | columns::kRdCol4;
  auto sender = [](const SenderLine& line, Packet& p) {
    p = {line.time.value(), line.frame, line.size};
  };
  // A packet belongs to the frame of its frame column, whatever its source.
  auto receiver = [](const ReceiverLine& line, Packet& p) {
    p = {line.time.value(), line.frame, line.size};
  };
  constexpr OneThreadOrder kSenders{0, 0}, kReceiver{1, 0};
  load_side_by_side(
      state, inputs, 4,
      {[&] {
         for (int s = 0; s < 3; ++s)
           load_trace<SenderLine>(inputs[s], run.sd[s], run.sd_num[s], kSenderUnused, sender);
       },
       kSenders},
      {[&] { load_trace<ReceiverLine>(inputs[3], run.rd, run.rd_num, kReceiverUnused, receiver); },
       kReceiver},
      [&] { run = RunPackets(); });
}

std::vector<FrameRow> frame_table(const RunPackets& trace) {
  int64_t records = trace.rd_num;
  int32_t lowest = std::numeric_limits<int32_t>::max(),
          highest = std::numeric_limits<int32_t>::min();
  auto span = [&](const auto& r, int) {
    lowest = std::min(lowest, r.frame);
    highest = std::max(highest, r.frame);
  };
  for (int s = 0; s < 3; ++s) records += trace.sd_num[s];
  for_each_record(trace, span);
  if (records == 0) return {};

  auto add = [](FrameRow& row, const auto& r, int src) {
    if (src >= 0)
      add_sent(row, r, src);
    else
      add_received(row, r);
  };
  int64_t slots = int64_t{highest} - lowest + 1;
  std::vector<FrameRow> rows;
  if (slots <= std::max(kMinSlots, kSlotsPerRecord * records)) {
    // Dense: one slot per frame number between the lowest and the highest,
    // then the slots without records squeezed out, in place.
    rows.resize(static_cast<size_t>(slots));
    for_each_record(trace, [&](const auto& r, int src) {
      add(rows[static_cast<size_t>(int64_t{r.frame} - lowest)], r, src);
    });
    size_t kept = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].sent_packets == 0 && rows[i].recv_packets == 0) continue;
      rows[kept] = rows[i];
      rows[kept++].frame = static_cast<int32_t>(lowest + static_cast<int64_t>(i));
    }
    rows.resize(kept);
  } else {
    // Sparse: the frame numbers of all records, sorted and made unique,
    // give each frame its row.
    std::vector<int32_t> frames;
    frames.reserve(static_cast<size_t>(records));
    for_each_record(trace, [&](const auto& r, int) { frames.push_back(r.frame); });
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    rows.resize(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) rows[i].frame = frames[i];
    for_each_record(trace, [&](const auto& r, int src) {
      size_t at = static_cast<size_t>(std::lower_bound(frames.begin(), frames.end(), r.frame) -
                                      frames.begin());
      add(rows[at], r, src);
    });
  }
  // Sent frames first, unexpected ones (usually few) after them, each in
  // ascending frame order, without a second table.
  std::vector<FrameRow> unexpected;
  size_t kept = 0;
  for (FrameRow& row : rows) {
    settle(row);
    if (row.status == FrameStatus::kUnexpected)
      unexpected.push_back(row);
    else
      rows[kept++] = row;
  }
  rows.resize(kept);
  rows.insert(rows.end(), unexpected.begin(), unexpected.end());
  return rows;
}
