// trace_video: send held to ffprobe's packet and frame lists, --out held to
// the input's packets less the missing ones (ffmpeg's framemd5), the
// status and decodability rules on tables of cases, and the messages.

#include <cmath>
#include <map>
#include <sstream>

#include "test_support.h"
#include "trace_video/quality.h"
#include "trace_video/receive.h"
#include "trace_video/send.h"
#include "trace_video/video_file.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const std::string kVideo = TRACE_ALIGN_SOURCE_DIR "/examples/video/";

std::vector<std::vector<std::string>> Csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::istringstream l(line);
    for (std::string cell; std::getline(l, cell, ',');) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.push_back("");
    rows.push_back(cells);
  }
  return rows;
}

class TraceVideoTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!HaveFfmpegTools()) GTEST_SKIP() << "ffmpeg tools missing";
  }
  static RunResult Video(const std::vector<std::string>& args) {
    return RunToolAt(TRACE_VIDEO_BINARY, args);
  }
  // The same with standard error where the result's text is.
  static RunResult VideoErr(const std::vector<std::string>& args) {
    RunResult r = RunToolAt(TRACE_VIDEO_BINARY, args);
    r.out = r.err;
    return r;
  }
};

// --mtu counts the 28 bytes of IPv4 and UDP headers: payloads of 500.
TEST_F(TraceVideoTest, SendFollowsTheDemuxersPacketsAndTheParsersTypes) {
  ASSERT_EQ(0, Video({"send", "--mtu", "528", "--sources", "2", "--start", "10", "--gap", "0.001",
                      kVideo + "clip.mp4", "out"})
                   .status);
  auto packets =
      Csv(Shell("ffprobe -v error -select_streams v:0 -show_entries "
                "packet=pts_time,dts_time,size,flags -of csv=p=0 '" +
                kVideo + "clip.mp4'"));
  // ffprobe's frames come in display order: their types, by timestamp.
  std::map<std::string, std::string> type_at;
  std::istringstream frames(
      Shell("ffprobe -v error -select_streams v:0 -show_entries "
            "frame=pts_time,pict_type -of compact=p=0 '" +
            kVideo + "clip.mp4'"));
  for (std::string line; std::getline(frames, line);) {
    if (line.find("pts_time=") == std::string::npos) continue;
    std::string pts = line.substr(line.find("pts_time=") + 9);
    pts = pts.substr(0, pts.find('|'));
    type_at[pts] = line.substr(line.find("pict_type=") + 10, 1);
  }
  auto table = Csv(ReadFile("out/frames.csv"));
  ASSERT_EQ(packets.size() + 1, table.size());
  EXPECT_EQ("frame,type,key,size,pts_s,dts_s,packets,source",
            ReadFile("out/frames.csv").substr(0, 46));
  double dts0 = std::stod(packets[0][1]);
  std::vector<std::string> sd[2];
  for (size_t f = 0; f < packets.size(); ++f) {
    const auto& p = packets[f];  // pts_time, dts_time, size, flags
    const auto& row = table[f + 1];
    ASSERT_EQ(std::to_string(f), row[0]);
    EXPECT_EQ(type_at[p[0]], row[1]) << f;
    EXPECT_EQ(p[3][0] == 'K' ? "1" : "0", row[2]) << f;
    EXPECT_EQ(p[2], row[3]) << f;
    EXPECT_NEAR(std::stod(p[0]), std::stod(row[4]), 1e-9) << f;
    EXPECT_NEAR(std::stod(p[1]), std::stod(row[5]), 1e-9) << f;
    int size = std::stoi(p[2]), count = (size + 499) / 500;
    EXPECT_EQ(std::to_string(count), row[6]) << f;
    EXPECT_EQ(std::to_string(f % 2), row[7]) << f;
    for (int k = 0; k < count; ++k) {
      char line[128];
      std::snprintf(line, sizeof line, "%.6f %d %d %d", 10 + (std::stod(p[1]) - dts0) + k * 0.001,
                    static_cast<int>(f), std::min(500, size - 500 * k), k);
      sd[f % 2].push_back(line);
    }
  }
  // Lines as "time id frame size k packets": all but the id checked here.
  for (int s = 0; s < 2; ++s) {
    std::istringstream in(ReadFile("out/sd" + std::to_string(s)));
    size_t i = 0;
    for (std::string time, id, frame, size, k, n; in >> time >> id >> frame >> size >> k >> n;
         ++i) {
      ASSERT_LT(i, sd[s].size());
      EXPECT_EQ(sd[s][i], time + " " + frame + " " + size + " " + k) << s << ":" << i;
    }
    EXPECT_EQ(sd[s].size(), i);
  }
  EXPECT_EQ("", ReadFile("out/sd2"));
}

TEST_F(TraceVideoTest, RawAnnexBStreamIsTimedByItsFrameRate) {
  Shell("ffmpeg -v error -i '" + kVideo + "clip.mp4' -c copy -bsf:v h264_mp4toannexb clip.264");
  ASSERT_EQ(0, Video({"send", "--fps", "50", "clip.264", "out"}).status);
  auto table = Csv(ReadFile("out/frames.csv"));
  ASSERT_EQ(251u, table.size());
  EXPECT_EQ("I", table[1][1]);
  EXPECT_EQ("", table[1][5]);  // no decode timestamps
  std::string sd1 = ReadFile("out/sd1");
  EXPECT_EQ("0.020000 ", sd1.substr(0, 9));  // frame 1 at 1/50 s
}

TEST_F(TraceVideoTest, ReceivedVideoHoldsTheInputsPacketsLessTheMissingOnes) {
  for (const char* out : {"received.mp4", "received.mkv"}) {
    RunResult r =
        Video({"receive", "--playout-delay", "0.005", "--out", out, "--frames", "frames.csv",
               kVideo + "clip.mp4", kVideo + "sd0", kVideo + "sd1", kVideo + "sd2", kVideo + "rd"});
    ASSERT_EQ(0, r.status) << r.out;
    auto rows = Csv(ReadFile("frames.csv"));
    // framemd5 lines: stream, dts, pts, duration, size, hash.
    auto md5 = [](const std::string& path) {
      std::vector<std::string> hashes;
      std::istringstream in(Shell("ffmpeg -nostdin -v error -i '" + path +
                                  "' -c copy -copyinkf -f framemd5 - 2>/dev/null"));
      for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
      return hashes;
    };
    std::vector<std::string> all = md5(kVideo + "clip.mp4"), expected;
    ASSERT_EQ(rows.size() - 1, all.size());
    int late = 0;
    for (size_t f = 0; f < all.size(); ++f) {
      if (rows[f + 1][12] == "received") expected.push_back(all[f]);
      late += rows[f + 1][12] == "late";
    }
    EXPECT_GT(late, 0) << "the delay should make some frames late";
    EXPECT_LT(expected.size(), all.size());
    EXPECT_EQ(expected, md5(out)) << out;
  }
}

// Nothing received: the empty video and the grey slots are said; the
// text summary leads with the PSNR of the mean squared error, where CSV
// keeps its columns.
TEST_F(TraceVideoTest, NothingReceivedIsSaidAndTheTextLeadsWithTheMsePsnr) {
  WriteFile("none", "");
  RunResult r =
      RunToolAt(TRACE_VIDEO_BINARY, {"receive", "--out", "got.mp4", kVideo + "clip.mp4",
                                     kVideo + "sd0", kVideo + "sd1", kVideo + "sd2", "none"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(
      "trace_video: note: no frame of the video was received and decodable; every slot shows a "
      "grey "
      "picture, against which the figures measure the video; got.mp4 holds no frame\n",
      r.err);
  EXPECT_LT(r.out.find("psnr_avg_db:"), r.out.find("psnr_y_mean_db:")) << r.out;
  RunResult csv =
      RunToolAt(TRACE_VIDEO_BINARY, {"receive", "--csv", kVideo + "clip.mp4", kVideo + "sd0",
                                     kVideo + "sd1", kVideo + "sd2", kVideo + "rd"});
  ASSERT_EQ(0, csv.status) << csv.err;
  EXPECT_EQ("", csv.err);
  EXPECT_LT(csv.out.find("psnr_y_mean_db"), csv.out.find("psnr_avg_db")) << csv.out;
}

// The rules on tables of cases: rows of the traces' frame table, frames
// of a video, the verdicts.
struct JudgeCase {
  const char* name;
  const char* types;  // one letter per frame, decode order; k: a key frame of unknown type
  std::vector<std::array<int, 2>> sent_received;  // packets per frame; -1 sent: unsent
  const char* statuses;                           // u, l, p, L (late), r
  const char* decodable;                          // 1 or 0 per frame
};

TEST(FrameJudgeTest, StatusAndDecodabilityRules) {
  const JudgeCase cases[] = {
      {"all received", "IPBBP", {{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, "rrrrr", "11111"},
      {"lost I frame", "IPBBI", {{2, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, "lrrrr", "00001"},
      {"lost P mid-GOP", "IPPBP", {{1, 1}, {1, 0}, {1, 1}, {1, 1}, {1, 1}}, "rlrrr", "10000"},
      {"lost B", "IPBBP", {{1, 1}, {1, 1}, {1, 0}, {1, 1}, {1, 1}}, "rrlrr", "11011"},
      {"partial P, B after one reference",
       "IBPB",
       {{1, 1}, {1, 1}, {3, 2}, {1, 1}},
       "rrpr",
       "1100"},
      {"unsent frame", "IP?", {{1, 1}, {-1, 0}, {1, 1}}, "rur", "100"},
      {"received but never sent", "IP", {{1, 1}, {-1, 1}}, "ru", "10"},
      {"P with no reference", "PI", {{1, 1}, {1, 1}}, "rr", "01"},
      // An intra-only codec: no parser types its frames, all are key frames.
      {"key frames of unknown type count as I",
       "kkkk",
       {{1, 1}, {1, 0}, {1, 1}, {1, 1}},
       "rlrr",
       "1011"},
      {"a ? frame that is no key frame counts as P", "k??", {{1, 0}, {1, 1}, {1, 1}}, "lrr", "000"},
  };
  for (const JudgeCase& c : cases) {
    std::vector<FrameRow> rows, unexpected;
    for (size_t f = 0; f < c.sent_received.size(); ++f) {
      FrameRow row;
      row.frame = static_cast<int32_t>(f);
      row.sent_packets = std::max(0, c.sent_received[f][0]);
      row.recv_packets = c.sent_received[f][1];
      row.status = c.sent_received[f][0] < 0 ? FrameStatus::kUnexpected : FrameStatus::kComplete;
      if (row.sent_packets == 0 && row.recv_packets == 0) continue;  // no row at all
      (row.status == FrameStatus::kUnexpected ? unexpected : rows).push_back(row);
    }
    rows.insert(rows.end(), unexpected.begin(), unexpected.end());
    FrameJudge judge(rows, std::nullopt, 0);
    std::string statuses, decodable;
    for (size_t f = 0; c.types[f] != '\0'; ++f) {
      VideoFrame frame;
      frame.frame = static_cast<int32_t>(f);
      frame.type = static_cast<FrameType>(c.types[f] == 'k' ? '?' : c.types[f]);
      frame.key = c.types[f] == 'k' || c.types[f] == 'I';
      FrameVerdict v = judge.judge(frame);
      statuses += "ulpLr"[static_cast<int>(v.status)];
      decodable += v.decodable ? '1' : '0';
    }
    EXPECT_EQ(c.statuses, statuses) << c.name;
    EXPECT_EQ(c.decodable, decodable) << c.name;
  }
}

TEST(FrameJudgeTest, LateIsStrictlyAfterTheDeadlineAndUnknownFramesAreCounted) {
  // First arrival 1.0, delay 0.5: frame f's deadline is 1.5 + f * 0.25.
  // An arrival time that is no number meets no deadline.
  std::vector<FrameRow> rows(6);
  double arrivals[] = {1.5, 1.75 + 0x1p-40, 2.0, NAN, -INFINITY, 9.0};
  int32_t frames[] = {0, 1, 2, 3, 4, 7};  // frame 7 is beyond the video
  for (int i = 0; i < 6; ++i) {
    rows[i].frame = frames[i];
    rows[i].sent_packets = rows[i].recv_packets = 1;
    rows[i].status = FrameStatus::kComplete;
    rows[i].last_recv = arrivals[i];
  }
  FrameJudge judge(rows, 0.5, 1.0);
  std::string statuses;
  for (int f = 0; f < 5; ++f) {
    VideoFrame frame;
    frame.frame = f;
    frame.type = FrameType::kI;
    frame.offset_s = f * 0.25;
    FrameVerdict v = judge.judge(frame);
    statuses += status_name(v.status) + std::string(" ");
    EXPECT_EQ(1.5 + f * 0.25, v.deadline_s.value_or(-1));
    EXPECT_EQ(f >= 3, v.untimed) << f;
  }
  EXPECT_EQ("received late received late late ", statuses);
  std::vector<int32_t> unknown;
  ReceiveSummary s = judge.finish(&unknown, 5);
  EXPECT_EQ(1, s.frames_unknown);
  EXPECT_EQ(std::vector<int32_t>{7}, unknown);
  EXPECT_EQ(3, s.frames_late);
  EXPECT_EQ(2, s.untimed_arrivals);
  EXPECT_EQ(3, s.first_untimed);
  EXPECT_EQ(2, s.decodable_frames);
}

TEST(SendTest, PacketsOfAFrame) {
  struct {
    int32_t size, mtu, count;
    std::vector<int32_t> payloads;
  } cases[] = {{0, 1024, 1, {0}},
               {1, 1024, 1, {1}},
               {1024, 1024, 1, {1024}},
               {1025, 1024, 2, {1024, 1}},
               {2500, 1000, 3, {1000, 1000, 500}}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.count, packet_count(c.size, c.mtu)) << c.size;
    for (int32_t k = 0; k < c.count; ++k)
      EXPECT_EQ(c.payloads[k], packet_payload(c.size, c.mtu, k));
  }
}

TEST_F(TraceVideoTest, MessagesAndExitStatus) {
  WriteFile("not_a_video", "hello\n");
  WriteFile("bad", "1 2\n");
  std::string traces[] = {kVideo + "sd0", kVideo + "sd1", kVideo + "sd2", kVideo + "rd"};
  struct {
    std::vector<std::string> args;
    int status;
    std::string starts;
  } cases[] = {
      {{}, 2, "trace_video: give a subcommand: send, receive or merge\nusage:"},
      {{"merge"}, 2, "trace_video: merge needs the shares' files\n"},
      {{"merge", "--json", "s"}, 2, "trace_video: merge takes share files alone\n"},
      {{"receive", "--shard", "0/2", "v", "a", "b", "c", "d"},
       2,
       "trace_video: --shard goes with --runs\n"},
      {{"receive", "--runs", "l", "--shard", "2/1", "v"},
       2,
       "trace_video: --shard needs K/N, whole numbers with 0 <= K < N <= 1000000, not 2/1\n"},
      {{"play"}, 2, "trace_video: unknown subcommand play (send, receive or merge)\n"},
      {{"send", "--payload", "0", "v", "o"},
       2,
       "trace_video: --payload needs a number of at least 1\n"},
      {{"send", "--mtu", "28", "v", "o"},
       2,
       "trace_video: --mtu needs a number from 29 to 65535\n"},
      {{"send", "--mtu", "65536", "v", "o"},
       2,
       "trace_video: --mtu needs a number from 29 to 65535\n"},
      {{"send", "--mtu", "1500", "--payload", "1472", "v", "o"},
       2,
       "trace_video: --mtu and --payload exclude each other\n"},
      // -j as trace_report takes it: a whole number, 1 to 4096.
      {{"receive", "--runs", "l", "-j", "4.0", "v"},
       2,
       "trace_video: -j needs a number of threads\n"},
      {{"receive", "--runs", "l", "-j", "5000", "v"},
       2,
       "trace_video: -j takes 1 to 4096 threads, not 5000\n"},
      {{"send", "--sources", "4", "v", "o"}, 2, "trace_video: --sources needs 1, 2 or 3\n"},
      {{"send", "v"}, 2, "trace_video: send takes VIDEO OUTDIR\n"},
      {{"receive", "--csv", "--json", "v", "a", "b", "c", "d"},
       2,
       "trace_video: --csv and --json exclude each other\n"},
      {{"send", "missing.mp4", "out"}, 1, "missing.mp4: cannot open: No such file or directory\n"},
      {{"send", "not_a_video", "out"}, 1, "not_a_video: cannot open: Invalid data found"},
      {{"receive", kVideo + "clip.mp4", traces[0], traces[1], traces[2], "bad"},
       1,
       "bad:1: expected 5 columns, found 2\n"},
      {{"receive", "--out", "bad", kVideo + "clip.mp4", traces[0], traces[1], traces[2], "bad"},
       1,
       "bad:1: expected 5 columns"},
      {{"receive", "--frames", traces[0], kVideo + "clip.mp4", traces[0], traces[1], traces[2],
        traces[3]},
       1,
       "input file " + traces[0] + " is the output file " + traces[0]},
      {{"receive", "--out", traces[3], kVideo + "clip.mp4", traces[0], traces[1], traces[2],
        traces[3]},
       1,
       "input file " + traces[3] + " is the output file " + traces[3]},
  };
  for (const auto& c : cases) {
    RunResult r = VideoErr(c.args);
    EXPECT_EQ(c.status, r.status) << c.starts;
    EXPECT_EQ(c.starts, r.out.substr(0, c.starts.size())) << r.out;
  }
  EXPECT_FALSE(Exists("out"));
}

}  // namespace

namespace {

// Which picture each slot shows. The slots are the undamaged decode's
// pictures (frame, packets fed then); the received decoder's pictures are
// given whole, in its output order.
TEST(SlotPlayerTest, PlacesPicturesByTheirFrameAsAPlayerWould) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, int64_t>> slots;
    std::vector<int32_t> received;  // frames fed to the received decoder
    std::vector<int32_t> decoded;   // its pictures' frames, in its order
    const char* shown;              // d decoded, f frozen (gray or repeated)
    int dropped;
  } cases[] = {
      {"all received", {{0, 1}, {1, 2}, {2, 3}}, {0, 1, 2}, {0, 1, 2}, "ddd", 0},
      {"B-frames: display order is not decode order",
       {{0, 2}, {2, 4}, {3, 5}, {1, 5}},
       {0, 1, 2, 3},
       {0, 2, 3, 1},
       "dddd",
       0},
      {"the first frames lost", {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, {2, 3}, {2, 3}, "ffdd", 0},
      {"a frame the decoder drops", {{0, 1}, {1, 2}, {2, 3}}, {0, 1, 2}, {0, 2}, "dfd", 0},
      // After a loss the decoder gives frame 3 before frame 2: 2 is late.
      {"output order changed by a loss",
       {{0, 1}, {2, 3}, {3, 4}, {4, 5}},
       {0, 2, 3, 4},
       {0, 3, 2, 4},
       "dfdd",
       1},
      // Frames 0 and 1 (a stream cut mid-GOP) have no slot: their pictures
      // are dropped once the undamaged decode is past them.
      {"pictures the undamaged stream never shows",
       {{2, 40}, {3, 41}},
       {0, 1, 2, 3},
       {0, 1, 2, 3},
       "dd",
       2},
      {"a picture of no known frame", {{0, 1}, {1, 2}}, {0, 1}, {-1, 0, 1}, "dd", 1},
      {"a slot of no known frame", {{0, 1}, {-1, 1}, {1, 2}}, {0, 1}, {0, 1}, "dfd", 0},
      {"nothing decoded at all", {{0, 1}, {1, 2}}, {0}, {}, "ff", 0},
  };
  for (const Case& c : cases) {
    SlotPlayer player(64, 17);
    for (int32_t f : c.decoded) player.decoded(f);
    auto received = [&](int32_t f) {
      return std::find(c.received.begin(), c.received.end(), f) != c.received.end();
    };
    std::string shown;
    int dropped = 0;
    for (auto [frame, fed] : c.slots) {
      player.open(frame, fed);
      std::optional<Placement> p = player.place(true, received);
      ASSERT_TRUE(p) << c.name;
      shown += p->decoded ? 'd' : 'f';
      dropped += p->dropped;
    }
    EXPECT_EQ(c.shown, shown) << c.name;
    EXPECT_EQ(c.dropped, dropped) << c.name;
  }
  // A received frame's slot waits for the decoder, dropping nothing; a
  // lost frame's does not.
  SlotPlayer player(8, 17);
  auto only_0 = [](int32_t f) { return f == 0; };
  player.open(0, 1);
  EXPECT_FALSE(player.place(false, only_0));
  player.decoded(0);
  std::optional<Placement> p = player.place(false, only_0);
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->decoded);
  player.open(1, 2);
  p = player.place(false, only_0);
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->decoded);
  // The same frame twice in the undamaged decode: the second slot is none's.
  EXPECT_EQ(-1, player.open(0, 3));
}

// Squared errors exact for any width; no SSIM where no 8x8 window fits.
TEST(QualityFiguresTest, WidePicturesAndPicturesWithoutAWindow) {
  struct {
    int width, height;
    bool ssim;
  } cases[] = {{100000, 1, false}, {70000, 8, true}, {4, 4, false}, {7, 100, false}, {8, 8, true}};
  for (const auto& c : cases) {
    size_t n = static_cast<size_t>(c.width) * static_cast<size_t>(c.height);
    std::vector<uint8_t> black(n, 0), white(n, 255);
    Picture a, b;
    for (int p = 0; p < 3; ++p) {
      a.planes[p] = {black.data(), c.width, c.width, c.height};
      b.planes[p] = {white.data(), c.width, c.width, c.height};
    }
    SlotFigures f = compare_pictures(a, b);
    EXPECT_EQ(255.0 * 255.0, f.mse_y) << c.width << "x" << c.height;
    EXPECT_EQ(255.0 * 255.0, f.mse_avg) << c.width << "x" << c.height;
    EXPECT_EQ(c.ssim, f.ssim_y.has_value()) << c.width << "x" << c.height;
    if (c.ssim) {
      EXPECT_LT(*f.ssim_y, 0.01);
    }
  }
  // Equal pictures, which compare_pictures knows without summing: the
  // figures the sums give.
  for (const auto& c : cases) {
    size_t n = static_cast<size_t>(c.width) * static_cast<size_t>(c.height);
    std::vector<uint8_t> noise(n), copy;
    for (size_t i = 0; i < n; ++i) noise[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    copy = noise;
    Picture a, b;
    for (int p = 0; p < 3; ++p) {
      a.planes[p] = {noise.data(), c.width, c.width, c.height};
      b.planes[p] = {copy.data(), c.width, c.width, c.height};
    }
    SlotFigures f = compare_pictures(a, b);
    EXPECT_EQ(0.0, f.mse_y);
    EXPECT_EQ(0.0, f.mse_avg);
    EXPECT_EQ(ssim_plane(a.planes[0], b.planes[0]), f.ssim_y) << c.width << "x" << c.height;
    copy[n / 2] ^= 1;
    EXPECT_GT(compare_pictures(a, b).mse_y, 0.0);
  }
  // The mean leaves slots without an SSIM out.
  QualitySummary q;
  SlotFigures with, without;
  with.ssim_y = 0.5;
  q.add(with, false);
  q.add(without, false);
  const auto& names = quality_names();
  std::vector<Field> fields = quality_fields(q);
  size_t at = std::find(names.begin(), names.end(), "ssim_y_mean") - names.begin();
  EXPECT_EQ("0.5", fields.at(at).text.value());
}

TEST(QualityFiguresTest, PsnrCapMosClassesAndPercentile) {
  EXPECT_EQ(kMaxPsnr, psnr_of(0));
  EXPECT_EQ(kMaxPsnr, psnr_of(1e-12));
  EXPECT_NEAR(48.1308, psnr_of(1), 1e-4);
  struct {
    double psnr;
    int mos;
  } classes[] = {{37.01, 5}, {37, 4}, {31.5, 4}, {31, 3}, {25, 2}, {20.5, 2}, {20, 1}, {0, 1}};
  for (const auto& c : classes) EXPECT_EQ(c.mos, mos_of(c.psnr)) << c.psnr;
  // 21 slots: the 5th percentile is the 2nd smallest (ceil(1.05) = 2).
  QualitySummary q;
  for (int i = 0; i < 21; ++i) {
    SlotFigures f;
    f.mse_y = f.mse_avg = 255.0 * 255.0 / std::pow(10.0, (20 + i) / 10.0);  // PSNR 20 + i dB
    q.add(f, i < 3);
  }
  std::vector<Field> fields = quality_fields(q);
  auto value = [&](const char* name) {
    const auto& names = quality_names();
    size_t at = std::find(names.begin(), names.end(), name) - names.begin();
    return std::stod(fields.at(at).text.value());
  };
  EXPECT_EQ(3, value("frames_frozen"));
  EXPECT_NEAR(21, value("psnr_y_p5_db"), 1e-9);
  EXPECT_NEAR(20, value("psnr_y_min_db"), 1e-9);
  EXPECT_NEAR(30, value("psnr_y_mean_db"), 1e-9);
  EXPECT_NEAR(100.0 * 1 / 21, value("mos1_pct"), 1e-9);  // 20 dB
  EXPECT_NEAR(100.0 * 3 / 21, value("mos5_pct"), 1e-9);  // 38, 39 and 40 dB
}

// The figures held to ffmpeg's psnr and ssim filters on the same frames,
// and the frames shown held to `ffmpeg -threads 1`'s decode of --out, slot
// for slot, with the frozen and gray slots where the traces say.
TEST_F(TraceVideoTest, QualityAgreesWithFfmpegOnTheSameFrames) {
  std::string args = std::string("TRACE_ALIGN_THREADS=1 '") + TRACE_VIDEO_BINARY +
                     "' receive --playout-delay 0.008 --out received.mp4 --frames frames.csv --yuv "
                     "shown.y4m '" +
                     kVideo + "clip.mp4' '" + kVideo + "sd0' '" + kVideo + "sd1' '" + kVideo +
                     "sd2' '" + kVideo + "rd' > summary.txt";
  ASSERT_EQ(0, std::system(args.c_str()));
  auto rows = Csv(ReadFile("frames.csv"));
  ASSERT_EQ(251u, rows.size());
  ASSERT_EQ("display", rows[0][14]);
  std::map<int, std::vector<std::string>> by_slot;
  for (size_t i = 1; i < rows.size(); ++i) by_slot[std::stoi(rows[i][14])] = rows[i];
  ASSERT_EQ(250u, by_slot.size());
  Shell("ffmpeg -nostdin -v error -i shown.y4m -i '" + kVideo +
        "clip.mp4' -lavfi "
        "'[0:v][1:v]psnr=stats_file=psnr.log;[0:v][1:v]ssim=stats_file=ssim.log' -f null -");
  std::istringstream psnr(ReadFile("psnr.log")), ssim(ReadFile("ssim.log"));
  std::string p, s;
  int slot = 0, frozen = 0;
  for (; std::getline(psnr, p) && std::getline(ssim, s); ++slot) {
    auto field = [](const std::string& line, const std::string& key) {
      size_t at = line.find(" " + key + ":") + key.size() + 2;
      return line.substr(at, line.find(' ', at) - at);
    };
    const auto& row = by_slot[slot];
    double want_y =
        field(p, "psnr_y") == "inf" ? 100 : std::min(100.0, std::stod(field(p, "psnr_y")));
    double want_avg =
        field(p, "psnr_avg") == "inf" ? 100 : std::min(100.0, std::stod(field(p, "psnr_avg")));
    EXPECT_NEAR(want_y, std::stod(row[17]), 0.01) << slot;
    EXPECT_NEAR(want_avg, std::stod(row[18]), 0.01) << slot;
    EXPECT_NEAR(std::stod(field(" " + s, "Y")), std::stod(row[19]), 1e-5) << slot;
    frozen += row[15] == "1";
  }
  EXPECT_EQ(250, slot);
  EXPECT_GT(frozen, 0);
  // The shown frames: each slot the decode of --out whose timestamp is the
  // slot's, else the slot before (or gray).
  auto hashes = [](const std::string& command) {
    std::vector<std::pair<std::string, std::string>> out;  // pts, md5
    std::istringstream in(Shell(command));
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      auto cells = Csv(line)[0];
      out.push_back({cells[2].substr(cells[2].find_first_not_of(' ')), cells[5].substr(1)});
    }
    return out;
  };
  auto decoded = hashes(
      "ffmpeg -nostdin -v error -threads 1 -i received.mp4 -vsync passthrough -f framemd5 -");
  auto shown = hashes("ffmpeg -nostdin -v error -i shown.y4m -f framemd5 -");
  ASSERT_EQ(250u, shown.size());
  std::map<double, std::string> decoded_at;  // by presentation time in seconds
  auto tb = [&](const std::string& pts) { return std::stod(pts) / 12800.0; };
  for (const auto& [pts, md5] : decoded) decoded_at[tb(pts)] = md5;
  std::string previous = "gray";
  int gray = 0;
  for (int j = 0; j < 250; ++j) {
    double at = std::stod(by_slot[j][4]);
    auto it = decoded_at.find(at);
    bool frozen_slot = by_slot[j][15] == "1";
    EXPECT_EQ(it == decoded_at.end(), frozen_slot) << j;
    std::string want = it != decoded_at.end() ? it->second : previous;
    if (want == "gray")
      ++gray;
    else
      EXPECT_EQ(want, shown[j].second) << j;
    previous = want;
  }
  EXPECT_NE(std::string::npos, ReadFile("summary.txt").find("frames_frozen:"));
}

TEST_F(TraceVideoTest, ReferenceOfAnotherShapeOrLengthIsRefused) {
  Shell(
      "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=176x144:rate=25 -t 10 -pix_fmt yuv420p "
      "small.y4m");
  Shell(
      "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=352x288:rate=25 -t 2 -pix_fmt yuv420p "
      "short.y4m");
  std::string traces[] = {kVideo + "sd0", kVideo + "sd1", kVideo + "sd2", kVideo + "rd"};
  RunResult small = VideoErr({"receive", "--reference", "small.y4m", kVideo + "clip.mp4", traces[0],
                              traces[1], traces[2], traces[3]});
  EXPECT_EQ(1, small.status);
  EXPECT_EQ(
      "small.y4m: frames of 176x144 yuv420p, the video's are 352x288 yuv420p: the reference must "
      "have the video's size and pixel format\n",
      small.out);
  RunResult short_ = VideoErr({"receive", "--reference", "short.y4m", kVideo + "clip.mp4",
                               traces[0], traces[1], traces[2], traces[3]});
  EXPECT_EQ(1, short_.status);
  EXPECT_EQ("short.y4m: has 50 frames, fewer than the video's 250\n", short_.out);
  RunResult plain = Video({"receive", "--no-decode", "--csv", kVideo + "clip.mp4", traces[0],
                           traces[1], traces[2], traces[3]});
  EXPECT_EQ(0, plain.status);
  EXPECT_EQ(std::string::npos, plain.out.find("frames_frozen"));
}

}  // namespace

namespace {

// A sweep against one video: a row per run in the list's order, the same
// figures as the run alone, a bad run's row carrying its error.
TEST_F(TraceVideoTest, RunsOfAListAgainstOneVideo) {
  std::string traces = kVideo + "sd0," + kVideo + "sd1," + kVideo + "sd2,";
  WriteFile("list.csv", "# name,sd0,sd1,sd2,rd\nfirst," + traces + kVideo + "rd\nbroken," + traces +
                            "missing\nagain," + traces + kVideo + "rd\n");
  RunResult alone = Video({"receive", "--csv", "--playout-delay", "0.1", kVideo + "clip.mp4",
                           kVideo + "sd0", kVideo + "sd1", kVideo + "sd2", kVideo + "rd"});
  RunResult runs = Video(
      {"receive", "--runs", "list.csv", "-j", "2", "--playout-delay", "0.1", kVideo + "clip.mp4"});
  EXPECT_EQ(1, runs.status);
  auto one = Csv(alone.out), all = Csv(runs.out);
  ASSERT_EQ(2u, one.size());
  ASSERT_EQ(4u, all.size());
  EXPECT_EQ("run", all[0].front());
  EXPECT_EQ("error", all[0].back());
  std::vector<std::string> keys(all[0].begin() + 1, all[0].end() - 1);
  EXPECT_EQ(one[0], keys);
  for (size_t r : {1u, 3u}) {
    std::vector<std::string> figures(all[r].begin() + 1, all[r].end() - 1);
    EXPECT_EQ(one[1], figures) << r;
    EXPECT_EQ("", all[r].back());
  }
  EXPECT_EQ("broken", all[2][0]);
  EXPECT_EQ("can't open file missing", all[2].back());
  EXPECT_EQ(
      2, VideoErr({"receive", "--runs", "list.csv", "--out", "x.mp4", kVideo + "clip.mp4"}).status);
  // A run name that is no UTF-8 is noted, as trace_report notes it.
  WriteFile("named.csv", "n\xFF," + traces + kVideo + "rd\n");
  RunResult named =
      Video({"receive", "--runs", "named.csv", "--json", "--no-decode", kVideo + "clip.mp4"});
  EXPECT_EQ(
      "trace_video: named.csv:1: the run name is not UTF-8; in the JSON its bad bytes are U+FFFD\n",
      named.err);
  EXPECT_NE(std::string::npos, named.out.find("{\"run\":\"n\\ufffd\",")) << named.out;

  // In two shares, on one thread each, merged: the same bytes and status.
  // A share of another play-out delay is of another sweep.
  for (const char* k : {"0", "1"}) {
    RunResult share = Video({"receive", "--runs", "list.csv", "-j", "1", "--shard",
                             std::string(k) + "/2", "--playout-delay", "0.1", kVideo + "clip.mp4"});
    EXPECT_EQ(k[0] == '1' ? 1 : 0, share.status) << k;  // share 1 holds the broken run
    WriteFile(std::string("share") + k, share.out);
  }
  RunResult merged = Video({"merge", "share1", "share0"});
  EXPECT_EQ(1, merged.status);
  EXPECT_EQ(runs.out, merged.out);
  WriteFile("other", Video({"receive", "--runs", "list.csv", "--shard", "0/2", "--playout-delay",
                            "0.2", kVideo + "clip.mp4"})
                         .out);
  RunResult mixed = VideoErr({"merge", "share1", "other"});
  EXPECT_EQ(1, mixed.status);
  EXPECT_NE(std::string::npos,
            mixed.out.find("trace_video: other: share 0 of 2 is of another sweep "
                           "than share1"))
      << mixed.out;
}

}  // namespace

namespace {

// Every FFmpeg context has an owner: runs that fail half way through
// opening a video or creating an output, over and over as in a sweep of
// bad runs, leave nothing behind (checked by LeakSanitizer where the
// build has it, and always for the messages).
TEST_F(TraceVideoTest, FailingOpensReleaseEverything) {
  ASSERT_EQ("", Shell("ffmpeg -v error -f lavfi -i sine=duration=0.1 -y audio.wav 2>&1"));
  RunState run("trace_video");
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ("audio.wav: no video stream",
              failure_message_of(run.program, [] { VideoReader r("audio.wav", std::nullopt); }));
    VideoReader video(kVideo + "clip.mp4", std::nullopt);
    EXPECT_EQ("nodir/out.mp4: cannot create: No such file or directory",
              failure_message_of(run.program,
                                 [&] { Remuxer m(run, "nodir/out.mp4", video.stream(), "v"); }));
  }
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
#endif
}

}  // namespace
