// Reading the sender traces (and counting lines) and the problems that end a
// run before any output exists.

#include <cstring>
#include <random>
#include <thread>

#include "trace_align_support.h"
#include "trace_io/numbers.h"
#include "trace_io/trace_frames.h"
#include "trace_oracle.h"

namespace {

class TraceInputTest : public ScratchTest {
 protected:
  int32_t Count(const std::string& text) {
    WriteFile("t", text);
    InputFile in;
    EXPECT_TRUE(in.open("t"));
    return count_lines(in);
  }
  // Loads text as the trace of source 1; returns the message that ended the run, if any.
  std::string Load(const std::string& text) {
    WriteFile("sd1.txt", text);
    InputFile in;
    EXPECT_TRUE(in.open("sd1.txt"));
    return EndMessage([&] { trace.read_sd(1, in); });
  }
  // Loads text and checks that each record holds what the token readers
  // give for its line.
  void ExpectLoadedAsTokens(const std::string& text) {
    ASSERT_EQ("", Load(text));
    std::vector<std::vector<std::string>> lines = TokensOfLines(text);
    ASSERT_EQ(static_cast<int32_t>(lines.size()), trace.sd_num[1]);
    for (size_t i = 0; i < lines.size(); ++i)
      ASSERT_EQ("", SenderRecordMismatch(trace.sd_list[1][i], lines[i])) << "line " << i + 1;
  }
  TraceFile trace{state};
};

TEST_F(TraceInputTest, CountsEveryLineALastOneWithoutNewlineIncluded) {
  EXPECT_EQ(3, Count("a\nb\nc\n"));
  EXPECT_EQ(3, Count("a\nb\nc"));
  EXPECT_EQ(0, Count(""));
  EXPECT_EQ(2, Count("\n\n"));
  EXPECT_EQ(1, Count(std::string(3 << 20, 'x')));  // across read blocks
  std::string many;
  for (int i = 0; i < 70000; ++i) many += std::string(i % 41, 'x') + "\n";
  EXPECT_EQ(70001, Count(many + "last"));
}

TEST_F(TraceInputTest, LoadsColumnsIgnoringExtraTokensAndRunsOfSpaces) {
  ASSERT_EQ("", Load("0.5 9 3 600 7 8 99\n   1.25  1   4 12abc x -5\n2 0 5 100 0 1"));
  ASSERT_EQ(3, trace.sd_num[1]);
  const SdRecord& a = trace.sd_list[1][0];
  EXPECT_EQ(0.5, a.time.value());
  EXPECT_EQ(3, a.frame);
  EXPECT_EQ(600, a.size);
  EXPECT_EQ(7, a.col4);
  EXPECT_EQ(8, a.col5);
  const SdRecord& b = trace.sd_list[1][1];
  EXPECT_EQ(1.25, b.time.value());
  EXPECT_EQ(12, b.size);
  EXPECT_EQ(0, b.col4);
  EXPECT_EQ(-5, b.col5);
  EXPECT_EQ(5, trace.sd_list[1][2].frame);  // loaded without a final newline
}

TEST_F(TraceInputTest, ColumnsAnywhereInLongLinesReadAsTheirTokens) {
  // Runs of spaces and tokens of every length put columns across the
  // reader's 64-byte windows and its 1 MiB blocks.
  std::mt19937_64 rng(7);
  const std::vector<std::string> tokens = {
      "0",         "-12",        "1.5",          "58400.933514",
      "-0.000001", "99999999",   "123456789012", "1e3",
      "0x10",      "+7",         "abc",          "-",
      "1.",        "12345678.5", "2147483648",   "00000000000000000001"};
  std::string text;
  for (int i = 0; i < 40000; ++i) {
    std::vector<std::string> line;
    size_t columns = 6 + rng() % 3;
    text += std::string(rng() % 3 ? 0 : rng() % 90, ' ');
    for (size_t c = 0; c < columns; ++c) {
      line.push_back(tokens[rng() % tokens.size()]);
      text += line.back() + std::string(1 + (rng() % 4 ? 0 : rng() % 70), ' ');
    }
    if (rng() % 2) text.pop_back();
    text += '\n';
  }
  ExpectLoadedAsTokens(text);
}

// Lines as trace writers print them are read in one scan, others token by
// token: near the edges of that form (widths, signs, decimals, line ends),
// both must give what the token readers give.
TEST_F(TraceInputTest, PlainLinesReadAsTheirTokens) {
  std::mt19937_64 rng(11);
  auto digits = [&](int n) {
    std::string d;
    for (int i = 0; i < n; ++i) d += static_cast<char>('0' + rng() % 10);
    return d;
  };
  std::vector<std::string> ends = {"\n", "\r\n", " \n", " 99\n", "\t\n"};
  std::string text;
  for (int i = 0; i < 30000; ++i) {
    std::vector<std::string> line;
    std::string time = digits(1 + static_cast<int>(rng() % 10));
    if (rng() % 4) time += "." + digits(static_cast<int>(rng() % 10));
    line.push_back(time);
    for (int c = 1; c < 6; ++c) {
      std::string column = digits(1 + static_cast<int>(rng() % 10));
      if (rng() % 5 == 0) column.insert(column.begin(), '-');
      line.push_back(column);
    }
    for (const std::string& t : line) text += t + (&t == &line.back() ? "" : " ");
    text += rng() % 8 ? ends[0] : ends[rng() % ends.size()];
  }
  ExpectLoadedAsTokens(text);
}

TEST_F(TraceInputTest, WindowsLineEndsParse) {
  ASSERT_EQ("", Load("1.5 0 2 100 3 4\r\n"));
  EXPECT_EQ(4, trace.sd_list[1][0].col5);
}

TEST_F(TraceInputTest, MalformedLinesEndTheRunNamingFileAndLine) {
  EXPECT_EQ("sd1.txt:2: expected 6 columns, found 3", Load("1 0 0 1 1 1\n1 2 3\n"));
  EXPECT_EQ("sd1.txt:1: expected 6 columns, found 0", Load("\n"));
  EXPECT_EQ("sd1.txt:2: expected 6 columns, found 0", Load("1 0 0 1 1 1\n   \n"));
  EXPECT_EQ("sd1.txt:1: expected 6 columns, found 1", Load("1\t0\t0\t1\t1\t1\n"));
  std::string longest = "1 0 0 1 1 " + std::string(988, '1');
  EXPECT_EQ("", Load(longest + "\n" + longest));
  EXPECT_EQ("sd1.txt:2: line longer than 998 characters", Load("1 0 0 1 1 1\n" + longest + "1\n"));
  EXPECT_EQ("sd1.txt:1: line longer than 998 characters", Load(longest + "1"));
}

// The newline belongs to the last token: after a trailing space it is a
// token of its own, which reads as 0, but only when the line has others
// and only when the line really ends there.
TEST_F(TraceInputTest, NewlineAfterATrailingSpaceIsAColumnReadAsZero) {
  const struct {
    std::string text;
    std::string message;  // "" when the line loads, its last column 0
  } cases[] = {
      {"0.5 0 3 600 7 \n", ""},
      {"0.5 0 3 600 7   \n", ""},
      {"0.5 0 3 600 7 \r\n", ""},
      {"0.5 0 3 600 \n", "sd1.txt:1: expected 6 columns, found 5"},
      {"0.5 0 3 600 7 ", "sd1.txt:1: expected 6 columns, found 5"},  // no newline to count
      {"\n", "sd1.txt:1: expected 6 columns, found 0"},
      {"    \n", "sd1.txt:1: expected 6 columns, found 0"},
      {"0.5 0 3 600 7 " + std::string(985, ' ') + "\n",
       "sd1.txt:1: line longer than 998 characters"},
  };
  for (const auto& c : cases) {
    trace.sd_list[1].reset();
    EXPECT_EQ(c.message, Load(c.text)) << c.text;
    if (c.message.empty()) {
      ASSERT_EQ(1, trace.sd_num[1]);
      EXPECT_EQ(7, trace.sd_list[1][0].col4);
      EXPECT_EQ(0, trace.sd_list[1][0].col5);
    }
  }
  for (const char* receiver : {"0.5 1 3 600 \n", "0.5 1 3 600 \r\n"}) {
    WriteFile("rd.txt", receiver);
    InputFile in;
    ASSERT_TRUE(in.open("rd.txt"));
    EXPECT_EQ("", EndMessage([&] { trace.read_rd(in); })) << receiver;
    ASSERT_EQ(1, trace.rd_num);
    EXPECT_EQ(600, trace.rd_list[0].size);
  }
}

// The array starts with room for as many lines as the file's size
// suggests at 16 bytes a line; shorter lines make it grow, and the end
// cuts it to the records there are.
TEST_F(TraceInputTest, MoreLinesThanTheSizeSuggestsAllLoad) {
  std::string text;
  const int kLines = 300000;  // 12 bytes each: 3.6 MB, room first for 225,000
  for (int i = 0; i < kLines; ++i)
    text += std::to_string(i % 10) + " 0 " + std::to_string(i % 7) + " 1 2 3\n";
  ASSERT_EQ("", Load(text));
  ASSERT_EQ(kLines, trace.sd_num[1]);
  for (int i : {0, 224999, 225000, kLines - 1}) {
    EXPECT_EQ(i % 10, trace.sd_list[1][i].time.value()) << i;
    EXPECT_EQ(i % 7, trace.sd_list[1][i].frame) << i;
    EXPECT_EQ(3, trace.sd_list[1][i].col5) << i;
  }
}

// A pipe is read once, its records in an array that grows: the same
// records and line numbers as a regular file.
TEST_F(TraceInputTest, PipeIsReadOnceWithTheSameRecordsAndLineNumbers) {
  auto LoadPipe = [&](const std::string& text) {
    int fds[2];
    EXPECT_EQ(0, pipe(fds));
    std::thread writer([&] {
      for (size_t at = 0; at < text.size();) {
        ssize_t n = write(fds[1], text.data() + at, std::min<size_t>(4096, text.size() - at));
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(fds[1]);
    });
    InputFile in;
    in.fp = fdopen(fds[0], "r");
    in.path = "pipe";
    std::string message = EndMessage([&] { trace.read_sd(0, in); });
    writer.join();
    return message;
  };
  std::string text;
  for (int i = 0; i < 10000; ++i)
    text += std::to_string(i) + ".5 0 " + std::to_string(i / 7) + " 100 1 2\n";
  ASSERT_EQ("", LoadPipe(text + "1 2 3 4 5 6"));
  ASSERT_EQ(10001, trace.sd_num[0]);
  EXPECT_EQ(9999.5, trace.sd_list[0][9999].time.value());
  EXPECT_EQ(6, trace.sd_list[0][10000].col5);
  EXPECT_EQ("pipe:10001: expected 6 columns, found 2", LoadPipe(text + "1 2\n"));
  EXPECT_EQ("", LoadPipe(""));
  EXPECT_EQ(0, trace.sd_num[0]);
}

TEST_F(TraceInputTest, DirectoryIsNoInput) {
  InputFile in;
  EXPECT_FALSE(in.open("."));
  EXPECT_FALSE(in.open("missing"));
}

}  // namespace

namespace {

// A carriage return anywhere in a line but right before its newline is
// refused, whichever column holds it and whether a command converts that
// column or not: trace_align's loading and trace_report's alike.
TEST_F(TraceInputTest, CarriageReturnInAnyColumnIsRefusedByEveryLoader) {
  const std::string sender[] = {"0.1\r 0 0 100 0 0\n",   "0.1 0\r 0 100 0 0\n",
                                "0.1 0\r1 0 100 0 0\n",  "0.1 0 0\r 100 0 0\n",
                                "0.1 0 0 100 0\r0 0\n",  "0.1 0 0 100 0 0\r1\n",
                                "0.1 0 0 100 0 0 9\r9\n"};
  const std::string receiver[] = {"0.5 0\r 0 100 7\n", "0.5 0 0 100 7\rx\n",
                                  "0.5 0 0 100 7 8\r9\n"};
  auto report_loads = [&](const std::string& sd, const std::string& rd) {
    WriteInputs(sd, "", "", rd);
    RunPackets packets;
    InputFile inputs[4];
    return EndMessage([&] {
      for (int i = 0; i < 4; ++i)
        inputs[i].open_or_fail(i < 3 ? "sd" + std::to_string(i) : "rd", state);
      load_packets(state, packets, inputs);
    });
  };
  for (const std::string& line : sender) {
    EXPECT_EQ("sd1.txt:1: carriage return inside a line", Load(line)) << line;
    EXPECT_EQ("sd0:1: carriage return inside a line", report_loads(line, "")) << line;
  }
  for (const std::string& line : receiver) {
    WriteFile("rd.txt", line);
    InputFile in;
    ASSERT_TRUE(in.open("rd.txt"));
    EXPECT_EQ("rd.txt:1: carriage return inside a line", EndMessage([&] { trace.read_rd(in); }))
        << line;
    EXPECT_EQ("rd:1: carriage return inside a line", report_loads("", line)) << line;
  }
  EXPECT_EQ("", Load("0.1 0 0 100 0 0\r\n"));
}

}  // namespace
