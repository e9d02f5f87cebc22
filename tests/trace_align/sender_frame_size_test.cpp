// Sender frame-size files: one row per run of adjacent packets of a frame.

#include "trace_align_support.h"

namespace {

class SenderFrameSizeTest : public ScratchTest {
 protected:
  void Sender(int src, const std::vector<std::pair<int32_t, int32_t>>& frame_size) {
    trace.sd_num[src] = static_cast<int32_t>(frame_size.size());
    trace.sd_list[src] = allocate_array<SdRecord>(frame_size.size());
    for (size_t i = 0; i < frame_size.size(); ++i)
      trace.sd_list[src][i] = SdRecord{1.0, frame_size[i].first, frame_size[i].second, 0, 0};
  }
  static std::string Row(int32_t frame, int32_t size) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%-16d %d\n", frame, size);
    return buf;
  }
  TraceFile trace{state};
};

TEST_F(SenderFrameSizeTest, SumsRunsOfAdjacentPacketsPerSource) {
  Sender(0, {{0, 600}, {0, 300}, {1, 800}, {3, 200}});
  Sender(1, {{2, 5}, {1, 6}, {2, 7}, {1, 8}});
  Sender(2, {{0, INT32_MAX}, {0, 2}});
  trace.create_sd_frame_size();
  EXPECT_EQ(Row(0, 900) + Row(1, 800) + Row(3, 200), ReadFile("sd0_frame_dat"));
  EXPECT_EQ(Row(0, 0) + Row(2, 5) + Row(1, 6) + Row(2, 7) + Row(1, 8), ReadFile("sd1_frame_dat"));
  EXPECT_EQ(Row(0, INT32_MIN + 1), ReadFile("sd2_frame_dat"));
}

TEST_F(SenderFrameSizeTest, EmptySenderGivesTheSingleZeroRow) {
  trace.create_sd_frame_size();
  EXPECT_EQ("0                0\n", ReadFile("sd1_frame_dat"));
}

}  // namespace
