// trace_report: the figures of constructed runs and of the bundled example,
// the three output styles read back, lists of runs, and the figures of
// random runs computed a second, independent way.

#include <cmath>
#include <map>
#include <random>
#include <set>

#include "test_support.h"
#include "trace_io/table_output.h"
#include "trace_report/report_output.h"
#include "trace_report/runs.h"

namespace {

const std::string kExamples = TRACE_ALIGN_SOURCE_DIR "/examples/";

class TraceReportTest : public ScratchTest {
 protected:
  // Sender lines "time frame size", receiver lines "time src frame size".
  Report Run(const std::vector<std::string>& sd0, const std::vector<std::string>& sd1,
             const std::vector<std::string>& sd2, const std::vector<std::string>& rd) {
    auto write = [](const char* name, const std::vector<std::string>& lines, bool sender) {
      std::string text;
      for (const std::string& l : lines) {
        std::istringstream in(l);
        std::string time, a, b, c;
        in >> time >> a >> b >> c;
        text += sender ? time + " 0 " + a + " " + b + " 0 0\n"
                       : time + " " + a + " " + b + " " + c + " 0\n";
      }
      WriteFile(name, text);
    };
    write("sd0", sd0, true);
    write("sd1", sd1, true);
    write("sd2", sd2, true);
    write("rd", rd, false);
    std::string paths[4] = {"sd0", "sd1", "sd2", "rd"};
    RunState run("trace_report", one_thread_asked());
    Report report;
    EXPECT_EQ("", failure_message_of(run.program, [&] { report = report_run(run, paths, &frames); }));
    return report;
  }
  static RunResult Report_(const std::vector<std::string>& args) {
    return RunToolAt(TRACE_REPORT_BINARY, args);
  }
  std::vector<FrameRow> frames;
};

TEST_F(TraceReportTest, ConstructedRuns) {
  // Frame 1: 3 sent by source 0, 2 received (partial). Frame 2: sent by
  // sources 0 and 2, both received twice over (duplicates). Frame -4 (a
  // negative frame is a frame): lost. Frame 9: received, never sent.
  Report r =
      Run({"1.0 1 100", "1.1 1 100", "1.2 1 100", "2.0 2 50"}, {}, {"2.1 2 60", "0.5 -4 70"},
          {"1.5 0 1 100", "1.6 0 1 100", "2.5 2 2 50", "2.6 2 2 60", "2.7 2 2 60", "3.0 0 9 10"});
  EXPECT_EQ(6, r.packets_sent);
  EXPECT_EQ(5, r.packets_received);  // frame 9 is not a sent frame
  EXPECT_EQ(2, r.packets_lost);      // one of frame 1, the one of frame -4
  EXPECT_EQ(1, r.duplicate_packets);
  EXPECT_EQ(480, r.bytes_sent);
  EXPECT_EQ(370, r.bytes_received);
  EXPECT_EQ(3, r.frames_sent);
  EXPECT_EQ(1, r.frames_complete);
  EXPECT_EQ(1, r.frames_partial);
  EXPECT_EQ(1, r.frames_lost);
  EXPECT_EQ(1, r.frames_unexpected);
  EXPECT_DOUBLE_EQ(2.7 - 2.0, *r.delay_max_s);  // frame 2: last received 2.7, first sent 2.0
  EXPECT_FALSE(r.jitter_s);                     // one complete frame: no pair
  EXPECT_DOUBLE_EQ(8.0 * 370 / (2.7 - 1.5), *r.bitrate_bps);
  EXPECT_EQ(2, r.source[0].frames_sent);
  EXPECT_EQ(2, r.source[2].frames_sent);
  EXPECT_EQ(1, r.source[2].frames_lost);
  ASSERT_EQ(4u, frames.size());
  EXPECT_EQ(-4, frames[0].frame);
  EXPECT_EQ(9, frames[3].frame);
  EXPECT_EQ(FrameStatus::kUnexpected, frames[3].status);
  EXPECT_EQ(
      "frame,sources,sent_packets,sent_bytes,recv_packets,recv_bytes,first_send_s,last_recv_s,"
      "delay_s,status\n"
      "-4,2,1,70,0,0,0.5,,,lost\n1,0,3,300,2,200,1,1.6,,partial\n2,0+2,2,110,3,170,2,2.7," +
          number_text(2.7 - 2.0) + ",complete\n9,,0,0,1,10,,3,,unexpected\n",
      format_frames(frames));
}

TEST_F(TraceReportTest, NothingToComputeFromIsEmptyOrNull) {
  Report r = Run({}, {}, {}, {});
  EXPECT_FALSE(r.packet_loss_pct || r.frame_loss_pct || r.delay_mean_s || r.bitrate_bps);
  std::string csv = format_report(r, Format::kCsv);
  EXPECT_EQ("0,0,0,,0,0,0,0,0,0,0,,0,,,,,,,,0,0,0,0,0,0,0,0,0,0\n", csv.substr(csv.find('\n') + 1));
  EXPECT_NE(std::string::npos, format_report(r, Format::kJson).find("\"delay_p50_s\":null"));
  EXPECT_NE(std::string::npos,
            format_report(r, Format::kText).find("delay p50:              n/a\n"));
  // One complete frame received at one instant: a delay, but no duration.
  r = Run({"1.0 0 10"}, {}, {}, {"1.25 0 0 10"});
  EXPECT_EQ(0.25, *r.delay_p99_s);
  EXPECT_FALSE(r.bitrate_bps);
}

// The bundled example (see README): 150 packets in 25 frames; frame 10 of
// source 1 (5 packets) never arrived, frame 0 lost 1 of its 29 packets and
// frame 12 2 of its 27, so 8 of 150 packets are lost (5.33 %) and 1 of 25
// frames (4 %); the other 22 frames are complete. Sources 0, 1, 2 sent 89,
// 33 and 28 packets in 8, 9 and 8 frames.
TEST_F(TraceReportTest, ExampleCsvAndJsonReadBack) {
  std::vector<std::string> traces = {kExamples + "sd0.txt", kExamples + "sd1.txt",
                                     kExamples + "sd2.txt", kExamples + "rd.txt"};
  std::vector<std::string> csv_args = {"--csv"}, json_args = {"--json"};
  csv_args.insert(csv_args.end(), traces.begin(), traces.end());
  json_args.insert(json_args.end(), traces.begin(), traces.end());
  RunResult csv = Report_(csv_args);
  RunResult json = Report_(json_args);
  ASSERT_EQ(0, csv.status);
  ASSERT_EQ(0, json.status);
  std::istringstream lines(csv.out);
  std::string header, row;
  std::getline(lines, header);
  std::getline(lines, row);
  std::map<std::string, std::string> figures;
  std::istringstream keys(header), values(row);
  for (std::string k, v; std::getline(keys, k, ',') && std::getline(values, v, ',');)
    figures[k] = v;
  EXPECT_EQ("150", figures["packets_sent"]);
  EXPECT_EQ("8", figures["packets_lost"]);
  EXPECT_EQ(100.0 * 8 / 150, std::stod(figures["packet_loss_pct"]));  // exact round trip
  EXPECT_EQ("4", figures["frame_loss_pct"]);
  EXPECT_EQ("22", figures["frames_complete"]);
  EXPECT_EQ("89", figures["s0_packets_sent"]);
  EXPECT_EQ("9", figures["s1_frames_sent"]);
  EXPECT_EQ("1", figures["s1_frames_lost"]);
  // The JSON object holds the same figures under the same keys, in order.
  std::string expected = "{";
  for (const Figure<Report>& f : kFigures) {
    std::string k = f.name;
    expected += (expected.size() > 1 ? "," : "") + ("\"" + k + "\":") +
                (figures[k].empty() ? "null" : figures[k]);
  }
  EXPECT_EQ(expected + "}\n", json.out);
}

TEST_F(TraceReportTest, ListOfRunsReportsEveryRunInOrder) {
  fs::create_directory("runs");
  for (const char* f : {"sd0.txt", "sd1.txt", "sd2.txt", "rd.txt"})
    fs::copy_file(kExamples + f, std::string("runs/") + f);
  WriteFile("runs/bad.txt", "1 0 0\n");
  WriteFile("runs/list.csv",
            "# name,sd0,sd1,sd2,rd\n\ngood,sd0.txt,sd1.txt,sd2.txt,rd.txt\n"
            "bad,sd0.txt,sd1.txt,sd2.txt,bad.txt\nagain,sd0.txt,sd1.txt,sd2.txt,rd.txt\n");
  RunResult r = Report_({"--runs", "runs/list.csv", "-j", "2"});
  EXPECT_EQ(1, r.status);  // a run failed
  std::vector<std::string> rows;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  ASSERT_EQ(4u, rows.size());
  EXPECT_EQ(0u, rows[0].rfind("run,packets_sent,", 0));
  EXPECT_EQ(0u, rows[1].rfind("good,150,142,8,", 0));
  EXPECT_EQ("bad" + std::string(30, ',') + ",\"runs/bad.txt:1: expected 5 columns, found 3\"",
            rows[2]);  // quoted: a comma
  EXPECT_EQ(rows[1].substr(4), rows[3].substr(5));
  WriteFile("runs/list.csv", "good,sd0.txt,sd1.txt,sd2.txt,rd.txt\nbroken,sd0.txt\n");
  RunResult malformed = Report_({"--runs", "runs/list.csv"});
  EXPECT_EQ(1, malformed.status);
  EXPECT_EQ("", malformed.out);
  EXPECT_EQ(2, Report_({"--csv", "--json", "a", "b", "c", "d"}).status);
  EXPECT_EQ(1, Report_({"missing", "b", "c", "d"}).status);
}

// The figures of random runs against a second computation: all records
// sorted by frame, then walked once.
TEST_F(TraceReportTest, RandomRunsAgreeWithASortedRecount) {
  std::mt19937 rng(11);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 30; ++round) {
    struct Rec {
      int frame, src, size;  // src -1: received
      double time;
    };
    std::vector<Rec> all;
    std::vector<std::string> sd[3], rd;
    int span = round % 3 == 0 ? 2000000 : 40;  // sparse or dense frame numbers
    for (int i = pick(0, 120); i > 0; --i) {
      Rec r{pick(-5, span), pick(0, 2), pick(1, 1500), pick(0, 100000) / 64.0};
      all.push_back(r);
      sd[r.src].push_back(number_text(r.time) + " " + std::to_string(r.frame) + " " +
                          std::to_string(r.size));
    }
    for (int i = pick(0, 120); i > 0; --i) {
      Rec r{pick(-5, span), -1, pick(1, 1500), pick(0, 100000) / 64.0};
      all.push_back(r);
      rd.push_back(number_text(r.time) + " 1 " + std::to_string(r.frame) + " " +
                   std::to_string(r.size));
    }
    Report got = Run(sd[0], sd[1], sd[2], rd);
    std::stable_sort(all.begin(), all.end(),
                     [](const Rec& a, const Rec& b) { return a.frame < b.frame; });
    int64_t sent_frames = 0, lost_frames = 0, lost = 0, dup = 0, received = 0, unexpected = 0;
    std::vector<double> delays;
    for (size_t i = 0; i < all.size();) {
      size_t j = i;
      int64_t s = 0, r = 0;
      double first = INFINITY, last = -INFINITY;
      for (; j < all.size() && all[j].frame == all[i].frame; ++j) {
        if (all[j].src >= 0)
          ++s, first = std::min(first, all[j].time);
        else
          ++r, last = std::max(last, all[j].time);
      }
      i = j;
      if (s == 0) {
        ++unexpected;
        continue;
      }
      ++sent_frames;
      received += r;
      lost += std::max<int64_t>(0, s - r);
      dup += std::max<int64_t>(0, r - s);
      if (r == 0) ++lost_frames;
      if (r >= s) delays.push_back(last - first);
    }
    EXPECT_EQ(sent_frames, got.frames_sent);
    EXPECT_EQ(lost_frames, got.frames_lost);
    EXPECT_EQ(unexpected, got.frames_unexpected);
    EXPECT_EQ(lost, got.packets_lost);
    EXPECT_EQ(dup, got.duplicate_packets);
    EXPECT_EQ(received, got.packets_received);
    ASSERT_EQ(static_cast<int64_t>(delays.size()), got.frames_complete);
    if (delays.empty()) continue;
    double sum = 0;
    for (double d : delays) sum += d;
    EXPECT_NEAR(sum / static_cast<double>(delays.size()), *got.delay_mean_s, 1e-9);
    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    size_t rank95 = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(sorted.size())));
    EXPECT_EQ(sorted[rank95 - 1], *got.delay_p95_s);
    EXPECT_EQ(sorted.back(), *got.delay_max_s);
  }
}

}  // namespace

namespace {

// A NaN or infinite time takes part in no delay figure, whatever the order
// of the records; the figures stay ordered and the frames are counted.
TEST_F(TraceReportTest, DelaysThatAreNotFiniteTakePartInNoDelayFigure) {
  for (bool nan_first : {true, false}) {
    std::vector<std::string> sd, rd;
    for (int f = 0; f < 40; ++f) {
      std::string t = std::to_string(f);
      if (f % 10 == 3) {  // two sender records, one of them at a NaN time
        sd.push_back((nan_first ? "nan " : t + " ") + t + " 100");
        sd.push_back((nan_first ? t + " " : "nan ") + t + " 100");
        rd.push_back(t + ".5 1 " + t + " 100");
      } else {
        sd.push_back(t + " " + t + " 100");
      }
      rd.push_back((f == 7 ? std::string("inf") : t + ".25") + " 1 " + t + " 100");
    }
    Report r = Run(sd, {}, {}, rd);
    EXPECT_EQ(40, r.frames_complete);
    EXPECT_EQ(5, r.frames_without_delay) << nan_first;
    ASSERT_TRUE(r.delay_max_s && r.delay_p99_s && r.delay_p95_s && r.delay_p50_s);
    EXPECT_LE(*r.delay_p50_s, *r.delay_p95_s);
    EXPECT_LE(*r.delay_p95_s, *r.delay_p99_s);
    EXPECT_LE(*r.delay_p99_s, *r.delay_max_s);
    EXPECT_EQ(0.25, *r.delay_max_s);
    EXPECT_EQ(0.25, *r.delay_mean_s);
    EXPECT_EQ(0, *r.jitter_s);
    auto row3 =
        std::find_if(frames.begin(), frames.end(), [](const FrameRow& f) { return f.frame == 3; });
    EXPECT_TRUE(std::isnan(row3->delay()));
  }
}

TEST_F(TraceReportTest, ArgumentMessagesSayWhatIsWrong) {
  struct {
    std::vector<std::string> args;
    std::string first_line;
  } cases[] = {
      {{"--frames", "", "a", "b", "c", "d"}, "trace_report: --frames needs a file name"},
      {{"--runs", ""}, "trace_report: --runs needs a file name"},
      {{"--csv", "--csv", "a", "b", "c", "d"}, "trace_report: --csv given twice"},
      {{"--csv", "--json", "a", "b", "c", "d"},
       "trace_report: --csv and --json exclude each other"},
      {{"--runs", "l", "-j", "5000"}, "trace_report: -j takes 1 to 4096 threads, not 5000"},
      {{"--runs", "l", "-j", "x"}, "trace_report: -j needs a number of threads"},
      {{"--runs", "l", "--shard", "3/3"},
       "trace_report: --shard needs K/N, whole numbers with 0 <= K < N <= 1000000, not 3/3"},
      {{"--runs", "l", "--shard"}, "trace_report: --shard needs K/N"},
      {{"--shard", "0/2", "a", "b", "c", "d"}, "trace_report: --shard goes with --runs"},
      {{"--merge", "--csv", "s"}, "trace_report: --merge takes share files alone"},
      {{"--merge"}, "trace_report: --merge needs the shares' files"},
  };
  for (const auto& c : cases) {
    RunResult r = RunToolAt(TRACE_REPORT_BINARY, c.args);
    EXPECT_EQ(c.first_line, r.err.substr(0, r.err.find('\n'))) << r.err;
    EXPECT_EQ(2, r.status) << c.first_line;
  }
}

}  // namespace

namespace {

// What hostile use found: an output onto an input, a FIFO that nobody
// reads, an endless device as a list, a list with a byte-order mark and a
// name that is no UTF-8, a thread setting that is neither 1 nor 2, help
// that cannot be written. None may hang, pass silently or destroy a trace.
TEST_F(TraceReportTest, HostileArgumentsAreRefusedWithTheirReason) {
  for (const char* f : {"sd0.txt", "sd1.txt", "sd2.txt", "rd.txt"}) fs::copy_file(kExamples + f, f);
  std::string rd = ReadFile("rd.txt");
  fs::create_symlink("rd.txt", "link");
  ASSERT_EQ(0, mkfifo("fifo", 0600));
  auto shell = [](const std::string& command) {
    return Shell("{ " + command + "; } 2>&1; echo \"status $?\"");
  };
  auto run = [&](const std::string& args) {
    return shell("timeout 10 " TRACE_REPORT_BINARY " " + args);
  };
  const std::string traces = " sd0.txt sd1.txt sd2.txt rd.txt";
  EXPECT_EQ(
      "input file rd.txt is the output file rd.txt of this run; refusing to overwrite it\nstatus "
      "1\n",
      run("--frames rd.txt" + traces));
  EXPECT_EQ(
      "input file rd.txt is the output file link of this run; refusing to overwrite it\nstatus 1\n",
      run("--frames link" + traces));
  EXPECT_EQ(rd, ReadFile("rd.txt"));
  EXPECT_EQ("fifo: cannot create: not a regular file\nstatus 1\n", run("--frames fifo" + traces));
  EXPECT_EQ("/dev/zero:1: line longer than 65536 characters\nstatus 1\n", run("--runs /dev/zero"));
  WriteFile(
      "list.csv",
      "\xEF\xBB\xBFok,sd0.txt,sd1.txt,sd2.txt,rd.txt\nn\xFF,sd0.txt,sd1.txt,sd2.txt,rd.txt\n");
  std::string json = run("--json --runs list.csv");
  EXPECT_EQ(0u, json.find("trace_report: list.csv:2: the run name is not UTF-8; in the JSON its "
                          "bad bytes are U+FFFD\n"))
      << json;
  EXPECT_NE(std::string::npos, json.find("{\"run\":\"ok\",")) << json;
  EXPECT_NE(std::string::npos, json.find("{\"run\":\"n\\ufffd\",")) << json;
  EXPECT_NE(std::string::npos, json.find("\nstatus 0\n")) << json;
  std::string noted =
      shell("TRACE_ALIGN_THREADS=3 " TRACE_REPORT_BINARY " --csv" + traces + " >/dev/null");
  EXPECT_NE(std::string::npos,
            noted.find("trace_report: TRACE_ALIGN_THREADS=3 is neither 1 nor 2; the thread "
                       "count is chosen as when it is unset\n"))
      << noted;
  for (const char* program : {TRACE_ALIGN_BINARY, TRACE_REPORT_BINARY})
    for (const char* option : {"--help", "--version"}) {
      std::string out = shell(std::string(program) + " " + option + " >/dev/full");
      EXPECT_NE(std::string::npos, out.find("cannot write")) << program << option << out;
      EXPECT_NE(std::string::npos, out.find("status 1")) << program << option << out;
    }
}

}  // namespace
