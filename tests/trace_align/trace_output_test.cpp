// The aligned traces: exact line layouts, the frame-by-frame walk, and the
// grouped walk checked against the plain walk over whole arrays.

#include <random>

#include "trace_align_support.h"

namespace {

class TraceOutputTest : public ScratchTest {
 protected:
  void Sender(int src, const std::vector<SdRecord>& records) {
    trace.sd_num[src] = static_cast<int32_t>(records.size());
    trace.sd_list[src] = allocate_array<SdRecord>(records.size());
    std::copy(records.begin(), records.end(), trace.sd_list[src].get());
  }
  void Receiver(const std::vector<RdRecord>& records) {
    trace.rd_num = static_cast<int32_t>(records.size());
    trace.rd_list = allocate_array<RdRecord>(records.size());
    std::copy(records.begin(), records.end(), trace.rd_list.get());
  }
  void Rows(const std::vector<RdFrame>& rows) {
    trace.rd_frame_num = static_cast<int32_t>(rows.size());
    trace.rd_frame_list = allocate_array<RdFrame>(rows.size());
    std::copy(rows.begin(), rows.end(), trace.rd_frame_list.get());
  }
  // Runs the walk; sd and rd receive the two traces, the result is stdout.
  std::string Compare() {
    trace.sd_id = trace.rd_id = 0;
    trace.rd_trace_fp.create(state, kRdTrace);
    trace.sd_trace_fp.create(state, kSdTrace);
    std::string out;
    state.captured = &out;
    trace.compare();
    state.captured = nullptr;
    sd = ReadFile("sd_trace");
    rd = ReadFile("rd_trace");
    return out;
  }
  TraceFile trace{state};
  std::string sd, rd;
};

TEST_F(TraceOutputTest, LineLayoutsToTheByte) {
  Sender(0, {{1.5, 0, 512, 7, 3}});
  Sender(2, {{-0.0, 1, 5, 0, 0}, {1e20, 1, -5, -1, INT32_MIN}});
  Receiver({{1.523, 0, 0, 512}});
  Rows({{0, 0, 512}, {1, 2, 0}});
  EXPECT_EQ("", Compare());
  EXPECT_EQ(
      "1.500000         id 0  udp 512   7   3               \n"
      "-0.000000        id 1  udp 5   0   0               \n"
      "100000000000000000000.000000 id 2  udp -5   -1   -2147483648     \n",
      sd);
  EXPECT_EQ(
      "1.523000         id 0  udp 512\n"
      "-0.000000        id 1                lost 9999            \n"
      "100000000000000000000.000000 id 2                lost 9999            \n",
      rd);
}

TEST_F(TraceOutputTest, LostFrameOfSourceZeroOrOneHasTwoSpacesAfterLost) {
  Sender(1, {{1, 0, 1, 0, 0}, {2, 1, 1, 0, 0}, {3, 2, 1, 0, 0}, {4, 3, 1, 0, 0}, {5, 4, 1, 0, 0}});
  Receiver({{10, 1, 0, 1}, {11, 1, 1, 1}, {13, 0, 3, 1}});
  Rows({{0, 1, 1}, {1, 1, 1}, {2, 1, 0}, {3, 1, 1}});
  Compare();
  EXPECT_EQ(4, std::count(sd.begin(), sd.end(), '\n'));  // frame 4 is in neither trace
  EXPECT_EQ(
      "10.000000        id 0  udp 1\n11.000000        id 1  udp 1\n"
      "3.000000         id 2                lost  9999            \n"
      "13.000000        id 3  udp 1\n",
      rd);
}

TEST_F(TraceOutputTest, RowsWithoutValidSourceAreReportedAndSkipped) {
  Sender(0, {{1, 0, 1, 0, 0}, {1, 1, 1, 0, 0}, {1, 2, 1, 0, 0}});
  Rows({{0, -1, 0}, {1, 7, 5}, {2, 3, 0}});
  EXPECT_EQ("Error...no src found\nError...no src found\nError...no src found\n", Compare());
  EXPECT_EQ("", sd + rd);
}

TEST_F(TraceOutputTest, WritersOutsideTheTableWalkTheWholeTrace) {
  Sender(0, {{1, -1, 1, 0, 0}, {2, 9, 1, 0, 0}});
  Rows({{0, 0, 0}});
  Compare();
  trace.sd_trace_fp.create(state, kSdTrace);
  trace.write_sd(0, 0xFFFFFFFFu);
  trace.write_sd(0, 9);
  trace.sd_trace_fp.close();
  EXPECT_EQ(
      "1.000000         id 0  udp 1   0   0               \n"
      "2.000000         id 1  udp 1   0   0               \n",
      ReadFile("sd_trace"));
}

TEST_F(TraceOutputTest, WritersAskedAgainOrBackwardsFindTheirFrames) {
  // In frame order: the walk goes through the trace once, by a cursor.
  Sender(0, {{1, 0, 10, 0, 0}, {2, 0, 11, 0, 0}, {3, 1, 12, 0, 0}, {4, 2, 13, 0, 0}});
  Rows({{0, 0, 21}, {1, 0, 12}, {2, 0, 13}});
  Compare();
  trace.sd_trace_fp.create(state, kSdTrace);
  trace.write_sd(0, 2);
  trace.write_sd(0, 2);
  trace.write_sd(0, 0);
  trace.sd_trace_fp.close();
  EXPECT_EQ(
      "4.000000         id 4  udp 13   0   0               \n"
      "4.000000         id 5  udp 13   0   0               \n"
      "1.000000         id 6  udp 10   0   0               \n"
      "2.000000         id 7  udp 11   0   0               \n",
      ReadFile("sd_trace"));
}

TEST_F(TraceOutputTest, IdsCountUpAcrossDigitsAndWrapAsInt32) {
  Sender(0, {{1, 0, 1, 0, 0}, {1, 0, 1, 0, 0}, {1, 0, 1, 0, 0}});
  for (int32_t first : {8, 99, 999999, INT32_MAX - 1, -2}) {
    trace.sd_trace_fp.create(state, kSdTrace);
    trace.sd_id = first;
    trace.write_sd(0, 0);
    trace.sd_trace_fp.close();
    std::string want;
    char buf[128];
    for (int k = 0; k < 3; ++k) {
      std::snprintf(buf, sizeof buf, "%-16f id %d  udp %d   %d   %-16d\n", 1.0,
                    static_cast<int32_t>(static_cast<uint32_t>(first) + static_cast<uint32_t>(k)),
                    1, 0, 0);
      want += buf;
    }
    EXPECT_EQ(want, ReadFile("sd_trace")) << first;
    EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(first) + 3u), trace.sd_id) << first;
  }
}

// The plain walk over whole arrays for every frame, with printf.
void Reference(const TraceFile& t, std::string& sd, std::string& rd, std::string& out) {
  char buf[512];
  int sd_id = 0, rd_id = 0;
  for (int32_t i = 0; i < t.rd_frame_num; ++i) {
    uint32_t src = static_cast<uint32_t>(t.rd_frame_list[i].src);
    if (src > 2) {
      out += "Error...no src found\n";
      continue;
    }
    for (int32_t k = 0; k < t.sd_num[src]; ++k) {
      const SdRecord& r = t.sd_list[src][k];
      if (r.frame != i) continue;
      std::snprintf(buf, sizeof buf, "%-16f id %d  udp %d   %d   %-16d\n", r.time.value(), sd_id++,
                    r.size, r.col4, r.col5);
      sd += buf;
    }
    if (t.rd_frame_list[i].size != 0) {
      for (int32_t k = 0; k < t.rd_num; ++k) {
        const RdRecord& r = t.rd_list[k];
        if (r.frame != i) continue;
        std::snprintf(buf, sizeof buf, "%-16f id %d  udp %d\n", r.time.value(), rd_id++, r.size);
        rd += buf;
      }
    } else {
      for (int32_t k = 0; k < t.sd_num[src]; ++k) {
        const SdRecord& r = t.sd_list[src][k];
        if (r.frame != i) continue;
        std::snprintf(buf, sizeof buf,
                      src == 2 ? "%-16f id %-16d lost %-16d\n" : "%-16f id %-16d lost  %-16d\n",
                      r.time.value(), rd_id++, 9999);
        rd += buf;
      }
    }
  }
}

// Traces in frame order, frames outside the table last, take the short way.
template <typename Record>
void InFrameOrder(std::vector<Record>& list) {
  std::stable_sort(list.begin(), list.end(), [](const Record& a, const Record& b) {
    return static_cast<uint32_t>(a.frame) < static_cast<uint32_t>(b.frame);
  });
}

TEST_F(TraceOutputTest, GroupedWalkWritesExactlyWhatThePlainWalkWrites) {
  std::mt19937 rng(3);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 40; ++round) {
    int frames = pick(1, 30);
    for (int src = 0; src < 3; ++src) {
      std::vector<SdRecord> list(pick(0, 60));
      for (SdRecord& r : list)
        r = {pick(0, 1 << 20) / 64.0, pick(-2, frames + 2), pick(0, 1500), pick(0, 9),
             pick(-9, 99)};
      if (round % 2) InFrameOrder(list);
      Sender(src, list);
    }
    std::vector<RdRecord> rd_list(pick(0, 100));
    for (RdRecord& r : rd_list)
      r = {pick(0, 1 << 20) / 64.0, pick(-1, 3), pick(-2, frames + 2), pick(0, 3)};
    if (round % 2) InFrameOrder(rd_list);
    Receiver(rd_list);
    std::vector<RdFrame> rows(frames);
    for (RdFrame& r : rows) r = {0, pick(-1, 3), pick(-1, 1)};
    Rows(rows);
    std::string want_sd, want_rd, want_out;
    Reference(trace, want_sd, want_rd, want_out);
    ASSERT_EQ(want_out, Compare());
    ASSERT_EQ(want_sd, sd);
    ASSERT_EQ(want_rd, rd);
  }
}

}  // namespace
