// Faults injected into real runs of the tool: outputs that cannot be
// created or written, inputs that are outputs, bad input lines. Every run
// ends with status 1 and one message naming the file, and no input changes.

#include "trace_align_support.h"

namespace {

const char* const kIncomplete = "; the outputs of this run are incomplete\n";

class FaultInjectionTest : public ScratchTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    inputs_ = {{"sd0", "0.1 0 0 100 0 0\n"},
               {"sd1", "0.2 1 1 100 0 0\n"},
               {"sd2", "0.3 2 2 100 0 0\n"},
               {"rd", "0.5 0 0 100 0\n0.6 1 1 50 0\n0.7 2 3 9 0\n"}};
  }
  RunResult Run(std::vector<std::string> args = {"sd0", "sd1", "sd2", "rd"}) {
    for (auto& [name, text] : inputs_) WriteFile(name, text);
    RunResult r = ScratchTest::Run(args, {GetParam()});
    EXPECT_EQ(1, r.status);
    for (auto& [name, text] : inputs_) EXPECT_EQ(text, ReadFile(name)) << name << " changed";
    return r;
  }
  std::vector<std::pair<std::string, std::string>> inputs_;
};

TEST_P(FaultInjectionTest, EachOutputBlockedByADirectory) {
  for (const char* name : kOutputNames) {
    fs::create_directory(name);
    std::string first = std::string(name) == "rd_frame_dat" ? "\n" : kIncomplete;
    EXPECT_EQ(name + std::string(": cannot create: Is a directory") + first, Run().out);
    for (const char* output : kOutputNames) fs::remove(output);
  }
}

TEST_P(FaultInjectionTest, OutputsCreatedBeforeTheBlockedOneAreEmptied) {
  WriteFile("rd_trace", "an earlier run's trace\n");
  WriteFile("sd0_frame_dat", "an earlier run's sizes\n");
  fs::create_directory("sd_trace");
  EXPECT_EQ(std::string("sd_trace: cannot create: Is a directory") + kIncomplete, Run().out);
  EXPECT_EQ("", ReadFile("rd_trace"));
  EXPECT_EQ("an earlier run's sizes\n", ReadFile("sd0_frame_dat"));
}

TEST_P(FaultInjectionTest, EachOutputOnAFullDisk) {
  for (const char* name : kOutputNames) {
    fs::create_symlink("/dev/full", name);
    EXPECT_EQ(name + std::string(": cannot write: No space left on device") + kIncomplete,
              Run().out);
    for (const char* output : kOutputNames) fs::remove(output);
  }
}

TEST_P(FaultInjectionTest, InputThatIsAnOutputIsRefusedBeforeAnythingIsCreated) {
  inputs_.push_back({"sd_trace", "0.1 0 0 100 0 0\n"});
  EXPECT_EQ(
      "input file sd_trace is the output file sd_trace of this run; refusing to overwrite it\n",
      Run({"sd0", "sd1", "sd_trace", "rd"}).out);
  fs::create_hard_link("rd", "rd_frame_dat");
  EXPECT_EQ("input file rd is the output file rd_frame_dat of this run; refusing to overwrite it\n",
            Run().out);
  EXPECT_FALSE(Exists("rd_trace"));
}

TEST_P(FaultInjectionTest, FrameJumpBeyondTheTableEndsAtOnce) {
  inputs_[3].second = "0.5 0 0 100 0\n0.6 0 2147483647 1 0\n";
  EXPECT_EQ(
      "rd_frame_dat: the receiver trace's frame numbers need more than 2147483647 table rows\n",
      Run().out);
  EXPECT_FALSE(Exists("rd_frame_dat"));
}

TEST_P(FaultInjectionTest, BadInputLinesEndTheRunBeforeAnyOutput) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0.1 0 0 100 0 " + std::string(5000, '7') + "\n",
       "sd0:1: line longer than 998 characters\n"},
      {"0.1 0 0 100 0 0\n\n", "sd0:2: expected 6 columns, found 0\n"},
      {"0.1 0 0", "sd0:1: expected 6 columns, found 3\n"}};
  for (auto& [text, message] : cases) {
    inputs_[0].second = text;
    EXPECT_EQ(message, Run().out);
    ExpectNoOutputs();
  }
}

TEST_P(FaultInjectionTest, OfTwoBadInputsTheEarlierArgumentIsReported) {
  inputs_[2].second = "0.3 2 2\n";
  inputs_[3].second = "0.5 0 0 100 0\n0.6 1\n";
  EXPECT_EQ("sd2:1: expected 6 columns, found 3\n", Run().out);
  inputs_[2].second = "0.3 2 2 100 0 0\n";
  EXPECT_EQ("rd:2: expected 5 columns, found 2\n", Run().out);
}

// Rows: 0 without source, 1..frames from source 0, then one from source 7.
class AlignedTraceFaultTest : public FaultInjectionTest {
 protected:
  void SetUp() override {
    FaultInjectionTest::SetUp();
    const int frames = 50000;
    std::string sd0, rd;
    for (int f = 1; f <= frames; ++f) {
      sd0 += "0.1 0 " + std::to_string(f) + " 100 0 0\n";
      rd += "0.5 0 " + std::to_string(f) + " 100 0\n";
    }
    rd += "0.6 7 " + std::to_string(frames + 1) + " 100 0\n";
    inputs_ = {{"sd0", sd0}, {"sd1", ""}, {"sd2", ""}, {"rd", rd}};
  }
  static constexpr const char* kNoSrc = "Error...no src found\n";
  static std::string Full(const std::string& name) {
    return name + ": cannot write: No space left on device" + kIncomplete;
  }
};

TEST_P(AlignedTraceFaultTest, RowsAfterAFailedWriteAreNotReported) {
  EXPECT_EQ(std::string(kNoSrc) + kNoSrc, Run().out);
  for (const char* name : {"sd_trace", "rd_trace"}) {
    fs::remove(name);
    fs::create_symlink("/dev/full", name);
    EXPECT_EQ(kNoSrc + Full(name), Run().out) << name;
    fs::remove(name);
  }
}

TEST_P(AlignedTraceFaultTest, OfTwoFailingTracesTheOneFilledFirstIsReported) {
  // Each row's sd_trace line is the longer: its buffer is the first full.
  fs::create_symlink("/dev/full", "sd_trace");
  fs::create_symlink("/dev/full", "rd_trace");
  EXPECT_EQ(kNoSrc + Full("sd_trace"), Run().out);
  // Small traces fail only when closed, and rd_trace is closed first.
  inputs_ = {{"sd0", "0.1 0 1 100 0 0\n"}, {"sd1", ""}, {"sd2", ""}, {"rd", "0.5 0 1 100 0\n"}};
  EXPECT_EQ(kNoSrc + Full("rd_trace"), Run().out);
}

INSTANTIATE_TEST_SUITE_P(Threads, FaultInjectionTest, ::testing::ValuesIn(kThreadModes),
                         ThreadModeName);
INSTANTIATE_TEST_SUITE_P(Threads, AlignedTraceFaultTest, ::testing::ValuesIn(kThreadModes),
                         ThreadModeName);

}  // namespace
