// What the viewer saw, held to ffmpeg: over seeded loss patterns on H.264
// with B-frames, HEVC with B-frames and an intra-only codec, the slots are
// the undamaged stream's pictures in `ffmpeg -threads 1`'s output order,
// and every slot shows what a player shows of `ffmpeg -threads 1`'s decode
// of the run's own --out: each picture in its frame's slot, the slots
// between frozen, a picture whose slot has passed dropped. Decode-heavy:
// run in the Release build alone.

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "test_support.h"

namespace {

std::vector<std::string> Split(const std::string& line, char by) {
  std::vector<std::string> cells;
  std::istringstream l(line);
  for (std::string cell; std::getline(l, cell, by);) cells.push_back(cell);
  if (!line.empty() && line.back() == by) cells.push_back("");
  return cells;
}

struct Clip {
  const char* name;
  const char* make;  // ffmpeg's output options
  // --out's container. Not MP4 for HEVC: an MP4 that starts after a lost
  // key frame gets an edit list whose leading packets the demuxer marks
  // for discarding, a container's choice that no received stream makes.
  const char* out;
};

class ShownPicturesTest : public ScratchTest, public ::testing::WithParamInterface<Clip> {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!HaveFfmpegTools()) GTEST_SKIP() << "ffmpeg tools missing";
  }

  // Frames' md5 in a decoder's output order, with their presentation times
  // in seconds as the frames carry them (not the decoder's guess).
  static std::vector<std::pair<double, std::string>> Decoded(const std::string& path) {
    std::vector<double> pts;
    std::string tb_line = Shell(
        "ffprobe -v error -select_streams v:0 -show_entries stream=time_base "
        "-of csv=p=0 '" +
        path + "'");
    std::vector<std::string> tb = Split(tb_line.substr(0, tb_line.find('\n')), '/');
    // "frames.frame.N.pts=T", among the frames' side data lines.
    std::istringstream probe(
        Shell("ffprobe -v error -threads 1 -select_streams v:0 -show_entries "
              "frame=pts -of flat '" +
              path + "' 2>/dev/null"));
    for (std::string line; std::getline(probe, line);) {
      size_t at = line.find(".pts=");
      if (line.rfind("frames.frame.", 0) == 0 && at != std::string::npos &&
          line.find('.', 13) == at)
        pts.push_back(std::stod(line.substr(at + 5)) * std::stod(tb[0]) / std::stod(tb[1]));
    }
    std::vector<std::pair<double, std::string>> out;
    std::istringstream md5(Shell("ffmpeg -nostdin -v error -threads 1 -i '" + path +
                                 "' -vsync passthrough -f framemd5 - 2>/dev/null"));
    for (std::string line; std::getline(md5, line);)
      if (!line.empty() && line[0] != '#') {
        size_t i = out.size();
        out.push_back({i < pts.size() ? pts[i] : NAN, line.substr(line.rfind(' ') + 1)});
      }
    EXPECT_EQ(pts.size(), out.size()) << path;
    return out;
  }
};

TEST_P(ShownPicturesTest, SlotsFollowFfmpegsDecodeOfTheReceivedVideo) {
  const Clip& clip = GetParam();
  std::string video = std::string("clip.") + (std::string(clip.name) == "mjpeg" ? "mkv" : "mp4");
  Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=320x180:rate=25 -t 6 " +
        std::string(clip.make) + " " + video);
  ASSERT_TRUE(Exists(video));
  ASSERT_EQ(0, RunToolAt(TRACE_VIDEO_BINARY, {"send", "--payload", "800", video, "out"}).status);
  struct Line {
    double time;
    int id, frame, size, source;
  };
  std::vector<Line> sent;
  std::map<int, std::vector<int>> packets_of;  // frame: its lines
  for (int s = 0; s < 3; ++s) {
    std::istringstream in(ReadFile("out/sd" + std::to_string(s)));
    for (Line l{0, 0, 0, 0, s}; in >> l.time >> l.id >> l.frame >> l.size;) {
      std::string k, n;
      in >> k >> n;
      packets_of[l.frame].push_back(static_cast<int>(sent.size()));
      sent.push_back(l);
    }
  }
  auto undamaged = Decoded(video);
  auto csv = Split(ReadFile("out/frames.csv"), '\n');
  std::vector<int> keys;
  for (size_t i = 1; i < csv.size(); ++i)
    if (!csv[i].empty() && Split(csv[i], ',')[2] == "1") keys.push_back(static_cast<int>(i - 1));

  for (int seed = 0; seed < 7; ++seed) {
    SCOPED_TRACE(std::string(clip.name) + " seed " + std::to_string(seed));
    std::mt19937 random(static_cast<unsigned>(seed));
    std::vector<bool> lost(sent.size());
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    switch (seed) {
      case 0:
        break;  // nothing lost
      case 1:
        lost[pick(sent.size())] = true;
        break;
      case 2:  // bursts of three packets
        for (int b = 0; b < 12; ++b)
          for (size_t at = pick(sent.size()), k = at; k < std::min(sent.size(), at + 3); ++k)
            lost[k] = true;
        break;
      case 3:  // a key frame whole, not the first
        for (int i : packets_of[keys[1 + pick(keys.size() - 1)]]) lost[i] = true;
        break;
      case 4:  // the first key frame
        for (int i : packets_of[0]) lost[i] = true;
        break;
      default:  // scattered losses
        for (size_t i = 0; i < sent.size(); ++i) lost[i] = random() % 100 < 4;
    }
    std::vector<std::pair<double, std::string>> rd;
    for (size_t i = 0; i < sent.size(); ++i) {
      if (lost[i]) continue;
      const Line& l = sent[i];
      char line[128];
      std::snprintf(line, sizeof line, "%.6f %d %d %d %d\n", l.time + 0.01, l.source, l.frame,
                    l.size, l.id);
      rd.push_back({l.time + 0.01, line});
    }
    std::stable_sort(rd.begin(), rd.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text;
    for (const auto& r : rd) text += r.second;
    WriteFile("rd", text);
    std::string received = std::string("received.") + clip.out;
    RunResult r = RunToolAt(TRACE_VIDEO_BINARY,
                            {"receive", "--out", received, "--frames", "frames.csv", "--yuv",
                             "shown.y4m", video, "out/sd0", "out/sd1", "out/sd2", "rd"},
                            {"TRACE_ALIGN_THREADS=1"});
    ASSERT_EQ(0, r.status) << r.err;

    // Slots: frame by display column, with each frame's presentation time.
    auto rows = Split(ReadFile("frames.csv"), '\n');
    std::map<int64_t, std::vector<std::string>> slot_row;
    std::map<double, int64_t> slot_at;  // presentation time: slot
    for (size_t i = 1; i < rows.size(); ++i) {
      if (rows[i].empty()) continue;
      auto row = Split(rows[i], ',');
      if (row[14].empty()) continue;  // no slot
      slot_row[std::stoll(row[14])] = row;
      slot_at[std::stod(row[4])] = std::stoll(row[14]);
    }
    ASSERT_EQ(undamaged.size(), slot_row.size());
    for (size_t j = 0; j < undamaged.size(); ++j)
      EXPECT_NEAR(undamaged[j].first, std::stod(slot_row[static_cast<int64_t>(j)][4]), 1e-6) << j;

    // A player over ffmpeg's decode of --out.
    std::vector<std::string> want(undamaged.size());  // md5, "" frozen
    int64_t last = -1;
    for (const auto& [pts, md5] : Decoded(received)) {
      auto it = std::find_if(slot_at.begin(), slot_at.end(),
                             [&](const auto& s) { return std::fabs(s.first - pts) < 1e-6; });
      if (it == slot_at.end() || it->second <= last) continue;
      last = it->second;
      want[static_cast<size_t>(last)] = md5;
    }
    std::vector<std::string> shown;
    std::istringstream y4m(Shell("ffmpeg -nostdin -v error -i shown.y4m -f framemd5 -"));
    for (std::string line; std::getline(y4m, line);)
      if (!line.empty() && line[0] != '#') shown.push_back(line.substr(line.rfind(' ') + 1));
    ASSERT_EQ(undamaged.size(), shown.size());
    int frozen = 0;
    for (size_t j = 0; j < want.size(); ++j) {
      bool is_frozen = slot_row[static_cast<int64_t>(j)][15] == "1";
      EXPECT_EQ(want[j].empty(), is_frozen) << "slot " << j;
      frozen += is_frozen;
      if (!want[j].empty()) {
        EXPECT_EQ(want[j], shown[j]) << "slot " << j;
      } else if (j > 0) {
        EXPECT_EQ(shown[j - 1], shown[j]) << "slot " << j;
      }
    }
    if (seed == 0) {
      EXPECT_EQ(0, frozen);
    } else {
      EXPECT_GT(frozen, 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, ShownPicturesTest,
    ::testing::Values(
        Clip{"h264", "-c:v libx264 -bf 2 -g 48 -keyint_min 48 -sc_threshold 0 -pix_fmt yuv420p",
             "mp4"},
        Clip{"hevc",
             "-c:v libx265 -x265-params keyint=48:min-keyint=48:bframes=2:log-level=error "
             "-pix_fmt yuv420p",
             "mkv"},
        Clip{"mjpeg", "-c:v mjpeg -q:v 5", "mkv"}),
    [](const ::testing::TestParamInfo<Clip>& info) { return std::string(info.param.name); });

}  // namespace
