// The built tool run in a scratch directory: command line, inputs, and
// whole output files compared byte for byte.

#include "trace_align_support.h"

namespace {

// Every case on two threads and on one.
class EndToEndTest : public ScratchTest, public ::testing::WithParamInterface<std::string> {
 protected:
  RunResult Run(const std::vector<std::string>& args = {"sd0", "sd1", "sd2", "rd"}) {
    return ScratchTest::Run(args, {GetParam()});
  }
  int Files() { return static_cast<int>(std::distance(fs::directory_iterator("."), {})); }
};

TEST_P(EndToEndTest, WrongArgumentCountCreatesNothing) {
  WriteInputs("", "", "", "");
  for (auto args :
       {std::vector<std::string>{}, {"sd0", "sd1", "sd2"}, {"sd0", "sd1", "sd2", "rd", "rd"}}) {
    RunResult r = Run(args);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("check input files and try again\n", r.out);
  }
  EXPECT_EQ(4, Files());
}

TEST_P(EndToEndTest, FirstUnopenablePathIsReportedAndNothingCreated) {
  WriteFile("sd0", "");
  RunResult r = Run({"sd0", "sd0", "missing/third", "missing_fourth"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("can't open file missing/third\n", r.out);
  fs::create_directory("dir");
  EXPECT_EQ("can't open file dir\n", Run({"dir", "sd0", "sd0", "sd0"}).out);
  EXPECT_EQ(2, Files());
}

TEST_P(EndToEndTest, CompletedRunEndsWithStatusOneAndReplacesOldOutputs) {
  WriteInputs("", "", "", "");
  WriteFile("rd_trace", "old contents\n");
  WriteFile("sd_trace", "old contents\n");
  RunResult r = Run();
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Error...no src found\n", r.out);  // the empty receiver trace's one row
  for (const char* name : kOutputNames) EXPECT_TRUE(Exists(name)) << name;
  EXPECT_EQ("", ReadFile("rd_trace") + ReadFile("sd_trace"));
  EXPECT_EQ("0                -1 0\n", ReadFile("rd_frame_dat"));
}

// Frames 0, 1 and 3 of source 1 arrive, frame 2 is lost, frame 4 is beyond
// the last received frame; source 0 sent frame 0 too but is never consulted.
TEST_P(EndToEndTest, LostFrameBetweenReceivedFrames) {
  WriteInputs("0.1 0 0 100 0 0\n",
              "1.0 1 0 500 0 0\n1.1 1 0 300 1 1\n2.0 1 1 400 0 2\n3.0 1 2 600 0 3\n4.0 1 3 700 0 "
              "4\n5.0 1 4 800 0 5\n",
              "", "1.05 1 0 500 0\n2.05 1 1 400 0\n4.05 1 3 700 0\n");
  EXPECT_EQ("", Run().out);
  EXPECT_EQ(
      "0                1 500\n1                1 400\n2                1 0\n3                1 "
      "700\n",
      ReadFile("rd_frame_dat"));
  EXPECT_EQ(
      "1.000000         id 0  udp 500   0   0               \n"
      "1.100000         id 1  udp 300   1   1               \n"
      "2.000000         id 2  udp 400   0   2               \n"
      "3.000000         id 3  udp 600   0   3               \n"
      "4.000000         id 4  udp 700   0   4               \n",
      ReadFile("sd_trace"));
  EXPECT_EQ(
      "1.050000         id 0  udp 500\n"
      "2.050000         id 1  udp 400\n"
      "3.000000         id 2                lost  9999            \n"
      "4.050000         id 3  udp 700\n",
      ReadFile("rd_trace"));
  EXPECT_EQ("0                100\n", ReadFile("sd0_frame_dat"));
  EXPECT_EQ(
      "0                800\n1                400\n2                600\n3                700\n4   "
      "             800\n",
      ReadFile("sd1_frame_dat"));
  EXPECT_EQ("0                0\n", ReadFile("sd2_frame_dat"));
}

// Frame 7 went missing after frame 6 of source 2, so it is attributed to
// source 2, which never sent it: source 1's packets of frame 7 vanish.
TEST_P(EndToEndTest, GapAttributedToTheWrongSourceWritesNothingForIt) {
  WriteInputs("", "6.0 1 6 10 0 0\n7.0 1 7 10 0 0\n8.0 1 8 10 0 0\n", "6.5 2 6 10 0 0\n",
              "6.1 1 6 10 0\n6.6 2 6 20 0\n8.1 1 8 10 0\n");
  std::string six_errors;
  for (int i = 0; i < 6; ++i) six_errors += "Error...no src found\n";  // rows 0 to 5
  EXPECT_EQ(six_errors, Run().out);
  EXPECT_EQ(
      "6.500000         id 0  udp 10   0   0               \n"
      "8.000000         id 1  udp 10   0   0               \n",
      ReadFile("sd_trace"));
  EXPECT_EQ(
      "6.100000         id 0  udp 10\n6.600000         id 1  udp 20\n8.100000         id 2  udp "
      "10\n",
      ReadFile("rd_trace"));
}

// A late packet of frame 1 after frame 2: row 3 holds frame 1 but is
// handled as frame 3, whose sender lines appear without any receiver line.
TEST_P(EndToEndTest, OutOfOrderReceiverTrace) {
  WriteInputs("", "1 1 0 5 0 0\n2 1 1 5 0 0\n3 1 2 5 0 0\n4 1 3 5 0 0\n", "",
              "1.5 1 0 5 0\n2.5 1 1 5 0\n3.5 1 2 5 0\n2.6 1 1 6 0\n");
  // Said once, first; the outputs stay what they always were.
  EXPECT_EQ(
      "rd:4: the receiver trace is not in frame order (frame 1 after frame 2); rd_trace and "
      "sd_trace "
      "do not line up from there on: sort it by frame, keeping the order within a frame\n",
      Run().out);
  EXPECT_EQ(
      "0                1 5\n1                1 5\n2                1 5\n1                1 6\n",
      ReadFile("rd_frame_dat"));
  std::string sd = ReadFile("sd_trace");
  EXPECT_EQ(4, std::count(sd.begin(), sd.end(), '\n'));
  EXPECT_EQ(
      "1.500000         id 0  udp 5\n2.500000         id 1  udp 5\n2.600000         id 2  udp 6\n"
      "3.500000         id 3  udp 5\n",
      ReadFile("rd_trace"));
}

TEST_P(EndToEndTest, NegativeFrameIsSaidBeforeTheOtherMessages) {
  WriteInputs("", "1 1 0 5 0 0\n", "", "1.5 1 -3 5 0\n1.6 1 -5 5 0\n");
  EXPECT_EQ(
      "rd:1: the receiver trace is not in frame order (negative frame -3); rd_trace and sd_trace "
      "do not line up from there on: sort it by frame, keeping the order within a frame\n"
      "Error...no src found\n",
      Run().out);
  EXPECT_EQ("0                -1 0\n-3               1 5\n-5               1 5\n",
            ReadFile("rd_frame_dat"));
}

// The bundled example, byte for byte.
TEST_P(EndToEndTest, ExampleRunMatchesExpectedOutputs) {
  std::string examples = TRACE_ALIGN_SOURCE_DIR "/examples/";
  RunResult r =
      Run({examples + "sd0.txt", examples + "sd1.txt", examples + "sd2.txt", examples + "rd.txt"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.out);
  for (const char* name : kOutputNames)
    EXPECT_EQ(ReadFile(examples + "expected/" + name), ReadOutput(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Threads, EndToEndTest, ::testing::ValuesIn(kThreadModes), ThreadModeName);

}  // namespace
