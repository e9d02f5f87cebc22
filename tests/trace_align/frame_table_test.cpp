// The receiver frame table: grouping, filled-in rows and their source, and
// the table loaded back from rd_frame_dat.

#include "trace_align_support.h"
#include "trace_io/table_loader.h"

namespace {

class FrameTableTest : public ScratchTest {
 protected:
  // Receiver records as "src frame size" triples; returns rd_frame_dat.
  std::string Table(const std::vector<std::array<int64_t, 3>>& records) {
    std::string text;
    for (auto& r : records)
      text += "1.0 " + std::to_string(r[0]) + " " + std::to_string(r[1]) + " " +
              std::to_string(r[2]) + " 0\n";
    WriteFile("rd.txt", text);
    InputFile in;
    EXPECT_TRUE(in.open("rd.txt"));
    message = EndMessage([&] { trace.read_rd(in); });
    if (message.empty()) ExpectTableIsWhatTheFileHolds();
    return fs::is_regular_file("rd_frame_dat") ? ReadFile("rd_frame_dat") : "";
  }
  // The table is kept in memory, not read back: it must be row for row
  // what reading rd_frame_dat back gives.
  void ExpectTableIsWhatTheFileHolds() {
    InputFile back;
    ASSERT_TRUE(back.open("rd_frame_dat"));
    Array<RdFrame> rows;
    int32_t count = 0;
    load_table(back, 3, rows, count, [](LineReader::Fields& f, RdFrame& row) {
      row.frame = f.int32();
      row.src = f.int32();
      row.size = f.int32();
    });
    ASSERT_EQ(count, trace.rd_frame_num);
    for (int32_t i = 0; i < count; ++i) {
      EXPECT_EQ(rows[i].frame, trace.rd_frame_list[i].frame) << i;
      EXPECT_EQ(rows[i].src, trace.rd_frame_list[i].src) << i;
      EXPECT_EQ(rows[i].size, trace.rd_frame_list[i].size) << i;
    }
  }
  static std::string Row(int32_t frame, int32_t src, int32_t size) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%-16d %d %d\n", frame, src, size);
    return buf;
  }
  TraceFile trace{state};
  std::string message;
};

TEST_F(FrameTableTest, GapsTakeTheSourceOfTheLastPacketBeforeThem) {
  EXPECT_EQ(Row(0, 1, 800) + Row(1, 0, 200) + Row(2, 0, 0) + Row(3, 0, 0) + Row(4, 0, 100),
            Table({{1, 0, 500}, {1, 0, 300}, {0, 1, 200}, {0, 4, 100}}));
  ASSERT_EQ(5, trace.rd_frame_num);
  EXPECT_EQ(3, trace.rd_frame_list[3].frame);
  EXPECT_EQ(0, trace.rd_frame_list[3].src);
  EXPECT_EQ(800, trace.rd_frame_list[0].size);
}

TEST_F(FrameTableTest, TraceStartingAboveZeroOrEmpty) {
  EXPECT_EQ(Row(0, -1, 0) + Row(1, -1, 0) + Row(2, -1, 0) + Row(3, 2, 9), Table({{2, 3, 9}}));
  EXPECT_EQ(Row(0, -1, 0), Table({}));
  EXPECT_EQ(1, trace.rd_frame_num);
}

TEST_F(FrameTableTest, FrameFromTwoSourcesBelongsToTheLast) {
  EXPECT_EQ(Row(0, 2, 30), Table({{0, 0, 10}, {2, 0, 20}}));
}

TEST_F(FrameTableTest, DecreasingAndNegativeFramesStartNewRows) {
  std::string t = Table({{1, 5, 10}, {1, 5, 20}, {1, 4, 7}});
  EXPECT_EQ(Row(0, -1, 0) + Row(1, -1, 0) + Row(2, -1, 0) + Row(3, -1, 0) + Row(4, -1, 0) +
                Row(5, 1, 30) + Row(4, 1, 7),
            t);
  EXPECT_EQ(4, trace.rd_frame_list[6].frame);
  EXPECT_EQ(
      Row(0, -1, 0) + Row(-3, 1, 1) + Row(-2, 1, 2) + Row(-1, 1, 0) + Row(0, 1, 3) + Row(1, 1, 4),
      Table({{1, -3, 1}, {1, -2, 2}, {1, 0, 3}, {1, 1, 4}}));
}

TEST_F(FrameTableTest, SumsWrapModulo2To32) {
  EXPECT_EQ(Row(0, 1, INT32_MIN), Table({{1, 0, INT32_MAX}, {1, 0, 1}}));
  EXPECT_EQ(INT32_MIN, trace.rd_frame_list[0].size);
}

TEST_F(FrameTableTest, TooManyRowsEndsTheRunBeforeTheFileExists) {
  Table({{1, -2147483647 - 1, 1}, {1, 2147483647, 1}});
  EXPECT_EQ("rd_frame_dat: the receiver trace's frame numbers need more than 2147483647 table rows",
            message);
  EXPECT_FALSE(Exists("rd_frame_dat"));
}

TEST_F(FrameTableTest, RecordsSetWithoutLoadingGiveTheSameTable) {
  // Loading counts the rows and notes the order as it goes; records put in
  // place some other way are looked at afresh.
  std::string loaded = Table({{1, 0, 5}, {2, 3, 7}, {0, 2, 1}, {1, 6, 2}});
  std::vector<RdRecord> records(trace.rd_list.get(), trace.rd_list.get() + trace.rd_num);
  records.push_back({1.0, 2, 9, 4});
  TraceFile other{state};
  other.rd_num = static_cast<int32_t>(records.size());
  other.rd_list = allocate_array<RdRecord>(records.size());
  std::copy(records.begin(), records.end(), other.rd_list.get());
  std::string said;
  state.captured = &said;
  EXPECT_EQ("", EndMessage([&] { other.create_rd_frame_table(); }));
  EXPECT_EQ(
      ":3: the receiver trace is not in frame order (frame 2 after frame 3); rd_trace and sd_trace "
      "do "
      "not line up from there on: sort it by frame, keeping the order within a frame\n",
      said);
  EXPECT_EQ(loaded + Row(7, 1, 0) + Row(8, 1, 0) + Row(9, 2, 4), ReadFile("rd_frame_dat"));
}

TEST_F(FrameTableTest, TableFileThatKeepsNothingGivesAnEmptyTable) {
  fs::create_symlink("/dev/null", "rd_frame_dat");
  Table({{0, 0, 1}, {0, 1, 2}});
  EXPECT_EQ("", message);
  EXPECT_EQ(0, trace.rd_frame_num);
}

TEST_F(FrameTableTest, UnwritableTableFileIsReported) {
  fs::create_symlink("/dev/full", "rd_frame_dat");
  Table({{0, 0, 1}});
  EXPECT_EQ(
      "rd_frame_dat: cannot write: No space left on device; the outputs of this run are incomplete",
      message);
}

}  // namespace
