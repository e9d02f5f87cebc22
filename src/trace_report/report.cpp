// Grouping records by frame and the figures over the groups. Frame numbers
// of a trace are usually dense: they index an array directly; sparse ones
// go through a sort.

#include "trace_report/report.h"

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

struct Accumulator {
  std::vector<FrameRow> rows;  // by slot
  std::vector<uint8_t> used;
  int32_t lowest = 0;
  bool dense = false;
};

// Applies fn(packet, source) to every packet; source -1 for the receiver's.
template <typename Fn>
void for_each_record(const RunPackets& trace, Fn fn) {
  for (int s = 0; s < 3; ++s)
    for (int32_t i = 0; i < trace.sd_num[s]; ++i) fn(trace.sd[s][i], s);
  for (int32_t i = 0; i < trace.rd_num; ++i) fn(trace.rd[i], -1);
}

void add_sent(FrameRow& row, const Packet& r, int src) {
  if (row.sent_packets == 0 || r.time < row.first_send) row.first_send = r.time;
  ++row.sent_packets;
  row.sent_bytes += r.size;
  row.sources = static_cast<uint8_t>(row.sources | (1u << src));
}

void add_received(FrameRow& row, const Packet& r) {
  if (row.recv_packets == 0 || r.time > row.last_recv) row.last_recv = r.time;
  if (row.recv_packets == 0 || r.time < row.first_recv) row.first_recv = r.time;
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

// Nearest rank: the value at rank ceil(p/100 * n) in ascending order.
double percentile(std::vector<double>& values, int p) {
  size_t n = values.size();
  size_t rank = static_cast<size_t>((static_cast<uint64_t>(p) * n + 99) / 100);  // ceil, exact
  if (rank == 0) rank = 1;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                   values.end());
  return values[rank - 1];
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
  rethrow(side_by_side(
      state,
      {[&] {
         for (int s = 0; s < 3; ++s)
           load_trace<SenderLine>(inputs[s], run.sd[s], run.sd_num[s], kSenderUnused, sender);
       },
       kSenders},
      {[&] { load_trace<ReceiverLine>(inputs[3], run.rd, run.rd_num, kReceiverUnused, receiver); },
       kReceiver}));
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

Report summarise(const RunPackets& trace, const std::vector<FrameRow>& frames) {
  Report r;
  std::vector<double> delays;
  double delay_sum = 0, jitter_sum = 0;
  std::optional<double> previous_delay;
  int64_t jitter_pairs = 0;
  for (const FrameRow& f : frames) {
    if (f.status == FrameStatus::kUnexpected) {
      ++r.frames_unexpected;
      continue;
    }
    ++r.frames_sent;
    r.packets_received += f.recv_packets;
    r.bytes_received += f.recv_bytes;
    r.packets_lost += std::max<int64_t>(0, f.sent_packets - f.recv_packets);
    r.duplicate_packets += std::max<int64_t>(0, f.recv_packets - f.sent_packets);
    if (f.status == FrameStatus::kLost) ++r.frames_lost;
    if (f.status == FrameStatus::kPartial) ++r.frames_partial;
    for (int s = 0; s < 3; ++s) {
      if (!(f.sources & (1u << s))) continue;
      ++r.source[s].frames_sent;
      if (f.status == FrameStatus::kLost) ++r.source[s].frames_lost;
    }
    if (!f.has_delay()) continue;
    ++r.frames_complete;
    double d = f.delay();
    delays.push_back(d);
    delay_sum += d;
    if (previous_delay) {
      jitter_sum += std::fabs(d - *previous_delay);
      ++jitter_pairs;
    }
    previous_delay = d;
  }
  for (int s = 0; s < 3; ++s) {
    r.source[s].packets_sent = trace.sd_num[s];
    r.packets_sent += trace.sd_num[s];
    for (int32_t i = 0; i < trace.sd_num[s]; ++i) r.bytes_sent += trace.sd[s][i].size;
  }
  if (r.packets_sent > 0)
    r.packet_loss_pct =
        100.0 * static_cast<double>(r.packets_lost) / static_cast<double>(r.packets_sent);
  if (r.frames_sent > 0)
    r.frame_loss_pct =
        100.0 * static_cast<double>(r.frames_lost) / static_cast<double>(r.frames_sent);
  if (!delays.empty()) {
    r.delay_mean_s = delay_sum / static_cast<double>(delays.size());
    r.delay_max_s = *std::max_element(delays.begin(), delays.end());
    r.delay_p50_s = percentile(delays, 50);
    r.delay_p95_s = percentile(delays, 95);
    r.delay_p99_s = percentile(delays, 99);
  }
  if (jitter_pairs > 0) r.jitter_s = jitter_sum / static_cast<double>(jitter_pairs);
  // The received span: receiver records of sent frames only.
  double first = std::numeric_limits<double>::infinity(), last = -first;
  for (const FrameRow& f : frames) {
    if (f.status == FrameStatus::kUnexpected || f.recv_packets == 0) continue;
    first = std::min(first, f.first_recv);
    last = std::max(last, f.last_recv);
  }
  if (r.packets_received > 0 && last - first > 0)
    r.bitrate_bps = 8.0 * static_cast<double>(r.bytes_received) / (last - first);
  return r;
}
