// Decoding only the damaged stretches is exact: over seeded loss patterns
// on H.264 with B-frames and closed GOPs, HEVC, an intra-only codec and an
// H.264 stream with open GOPs, every figure, every slot and every picture
// of --yuv equals the full decode's, one decoder thread each. The streams
// that allow it decode less; the open GOPs decode everything.

#include <random>

#include "test_support.h"
#include "trace_video/measure.h"
#include "trace_video/random_access.h"
#include "trace_video/reference_cache.h"
#include "trace_video/stretches.h"
#include "trace_video/video_file.h"

namespace {

// The plan on tables of cases: r a received random-access point, R the
// same lost, x a frame lost, . received, u received without a known
// place in display order; the stretches as "D[begin,end)" or "K[...)".
TEST(PlanStretches, FollowsTheReceivedRandomAccessPoints) {
  struct Case {
    const char* frames;
    int32_t drain;
    const char* plan;
    bool reach_back = false;
  } cases[] = {
      // The stretch before a damaged one decoded too, for its own damage only.
      {"r...r...r.x.", 2, "K0-4 D4-12", true},
      {"r...r.x.r...r...", 2, "D0-8 K8-16", true},
      {"r...r...", 2, "K0-8"},
      {"r.x.r...", 2, "D0-4 K4-8"},
      {"r...r.x.", 2, "K0-4 D4-8"},
      {"r...R...r...", 2, "D0-8 K8-12"},  // a lost point joins the stretch before
      {"r.x.r.r...", 3, "D0-6 K6-10"},    // a known stretch shorter than the drain
      {"r.x.r..r..", 3, "D0-4 K4-10"},    // known neighbours merged
      {"..x.r...", 2, "D0-4 K4-8"},       // the first stretch starts at 0, point or not
      {"....r...", 2, "D0-4 K4-8"},       // a stream cut mid-GOP: its start decoded
      {"r...r.u.", 2, "K0-4 D4-8"},       // no display order without decoding
      {"rrrxrr", 1, "K0-2 D2-4 K4-6"},    // intra-only
      {"rrrrrr", 1, "K0-6"},
      {"", 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<PlanFrame> frames;
    for (const char* p = c.frames; *p; ++p)
      frames.push_back({*p == 'r' || *p == 'R', *p != 'x' && *p != 'R', *p != 'u'});
    std::string plan;
    for (const Stretch& s : plan_stretches(frames, c.drain, c.reach_back))
      plan += (plan.empty() ? "" : " ") + std::string(s.decode ? "D" : "K") +
              std::to_string(s.begin) + "-" + std::to_string(s.end);
    EXPECT_EQ(c.plan, plan) << c.frames;
  }
}

// Sequence parameter sets with and without the reordering declared, as
// x264 writes them with and without its VUI.
TEST(RandomAccess, H264SequenceHeaderDeclaresReordering) {
  // profile 66, level 30, id 0; log2_max_frame_num 4, poc type 2, 1 ref,
  // 20x12 macroblocks, frame_mbs_only, direct8x8; then the VUI or not.
  // ue(0)=1, ue(2)=011, ue(1)=010, ue(19)=000010100, ue(11)=0001100.
  // Fields between spaces, which the parse below drops.
  const std::string common = "1 1 011 010 0 000010100 0001100 1 1 0";
  auto sps = [&](const std::string& tail) {
    std::string bits;
    for (char c : common + tail + "1")  // the rbsp stop bit last
      if (c != ' ') bits += c;
    while (bits.size() % 8) bits += '0';
    std::vector<uint8_t> nal = {0x67, 66, 0, 30};
    for (size_t i = 0; i < bits.size(); i += 8)
      nal.push_back(static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    return nal;
  };
  struct Case {
    const char* vui;
    bool declares;
  } cases[] = {
      {"0", false},  // no VUI
      // VUI: no aspect, overscan, signal type, chroma location, timing, HRDs,
      // picture structure; then no restriction
      {"1 0 0 0 0 0 0 0 0 0", false},
      // the restriction: motion vectors over the edges, max bytes and bits,
      // mv lengths, reorder 2, dpb 4
      {"1 0 0 0 0 0 0 0 0 1 1 1 1 1 1 011 00101", true},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> nal = sps(c.vui);
    EXPECT_EQ(c.declares, h264_sps_declares_reordering(nal.data(), nal.size())) << c.vui;
  }
}

struct Clip {
  const char* name;
  const char* make;  // ffmpeg's output options
  bool shortcut;     // decodes less than everything when a little is lost
};

class StretchDecodeTest : public ScratchTest, public ::testing::WithParamInterface<Clip> {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!HaveFfmpegTools()) GTEST_SKIP() << "ffmpeg tools missing";
  }
};

struct Measured {
  QualitySummary quality;
  std::vector<SlotResult> slots;
  std::string yuv;
};

Measured Measure(const std::string& video, const std::vector<Judged>& judged, bool trusted,
                 bool full, bool yuv, ReferenceCache* cache = nullptr, bool one_thread = true) {
  RunState run("trace_video", one_thread);
  ReceiveOptions options;
  options.full_decode = full;
  options.cache = cache;
  if (yuv) options.yuv = full ? "full.y4m" : "stretch.y4m";
  Measured m;
  m.slots.resize(judged.size());
  m.quality = measure(run, options, video, judged, trusted, m.slots);
  if (yuv) m.yuv = ReadFile(options.yuv);
  return m;
}

void ExpectSame(const Measured& a, const Measured& b) {
  EXPECT_EQ(a.quality.slots, b.quality.slots);
  EXPECT_EQ(a.quality.frozen, b.quality.frozen);
  EXPECT_EQ(a.quality.without_slot, b.quality.without_slot);
  EXPECT_EQ(a.quality.psnr_y, b.quality.psnr_y);
  EXPECT_EQ(a.quality.mse_avg_sum, b.quality.mse_avg_sum);
  EXPECT_EQ(a.quality.ssim_sum, b.quality.ssim_sum);
  EXPECT_EQ(a.quality.ssim_slots, b.quality.ssim_slots);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(a.quality.mos_count[k], b.quality.mos_count[k]);
  ASSERT_EQ(a.slots.size(), b.slots.size());
  for (size_t f = 0; f < a.slots.size(); ++f) {
    const SlotResult &x = a.slots[f], &y = b.slots[f];
    EXPECT_EQ(x.display, y.display) << "frame " << f;
    EXPECT_EQ(x.frozen, y.frozen) << "frame " << f;
    EXPECT_EQ(x.figures.mse_y, y.figures.mse_y) << "frame " << f;
    EXPECT_EQ(x.figures.mse_avg, y.figures.mse_avg) << "frame " << f;
    EXPECT_EQ(x.figures.ssim_y, y.figures.ssim_y) << "frame " << f;
  }
  EXPECT_TRUE(a.yuv == b.yuv) << "the --yuv pictures differ";
}

TEST_P(StretchDecodeTest, EqualsTheFullDecodeOverLossPatterns) {
  const Clip& clip = GetParam();
  std::string video = std::string("clip.") + (std::string(clip.name) == "mjpeg" ? "mkv" : "mp4");
  Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=160x90:rate=25 -t 4 " +
        std::string(clip.make) + " " + video);
  ASSERT_TRUE(Exists(video));
  std::vector<Judged> judged;
  VideoReader reader(video, std::nullopt);
  for (VideoFrame f; reader.next(f);) judged.push_back({f, {}, nullptr});
  bool trusted = reader.resets_trusted();
  std::vector<size_t> points;  // random-access points after the first frame
  for (const Judged& j : judged)
    if (j.frame.resets && j.frame.frame > 0) points.push_back(static_cast<size_t>(j.frame.frame));
  EXPECT_EQ(clip.shortcut, !points.empty()) << "random-access points found";
  if (points.empty()) points.push_back(judged.size() / 2);
  size_t n = judged.size();
  // As a sweep's runs share the reference's stretches: one cache over all
  // the seeds, and one too small for more than a few pictures.
  constexpr size_t kSmall = 3 * 160 * 90 * 3 / 2;
  ReferenceCache cache(size_t{1} << 30), small(kSmall);

  for (int seed = 0; seed < 10; ++seed) {
    SCOPED_TRACE(std::string(clip.name) + " seed " + std::to_string(seed));
    std::mt19937 random(static_cast<unsigned>(seed));
    auto pick = [&](size_t k) { return static_cast<size_t>(random() % k); };
    std::vector<bool> lost(n);
    size_t at = points[pick(points.size())];
    switch (seed) {
      case 0:
        break;  // nothing lost
      case 1:
        lost[pick(n)] = true;
        break;
      case 2:  // bursts
        for (int b = 0; b < 3; ++b)
          for (size_t s = pick(n), k = s; k < std::min(n, s + 4); ++k) lost[k] = true;
        break;
      case 3:  // a random-access point
        lost[at] = true;
        break;
      case 4:  // the frame before a point, in decode order: B-frames across the boundary
        lost[at - 1] = true;
        break;
      case 5:  // the frame after a point
        lost[std::min(n - 1, at + 1)] = true;
        break;
      case 6:  // the first frame
        lost[0] = true;
        break;
      case 7:  // the last frames
        lost[n - 1] = lost[n - 2] = true;
        break;
      case 8:  // both sides of a point
        lost[at - 1] = lost[std::min(n - 1, at + 1)] = true;
        break;
      default:  // scattered
        for (size_t k = 0; k < n; ++k) lost[k] = random() % 100 < 3;
    }
    for (size_t k = 0; k < n; ++k)
      judged[k].verdict.status = lost[k] ? ReceiveStatus::kLost : ReceiveStatus::kReceived;
    for (bool yuv : {false, true}) {
      SCOPED_TRACE(yuv ? "with --yuv" : "without --yuv");
      Measured full = Measure(video, judged, trusted, true, yuv);
      Measured stretch = Measure(video, judged, trusted, false, yuv);
      ExpectSame(full, stretch);
      if (!yuv) {
        ExpectSame(full, Measure(video, judged, trusted, false, false, &cache));
        ExpectSame(full, Measure(video, judged, trusted, false, false, &small));
        // The reference decoded on a thread of its own.
        ExpectSame(full, Measure(video, judged, trusted, false, false, nullptr, false));
      }
      EXPECT_EQ(static_cast<int64_t>(n), full.quality.decoded);
      // Nothing lost: nothing decoded, open GOPs or not; else an open GOP's
      // stream is decoded whole.
      if (seed == 0) {
        EXPECT_EQ(0, stretch.quality.decoded);
      } else if (!clip.shortcut) {
        EXPECT_EQ(static_cast<int64_t>(n), stretch.quality.decoded);
      } else if (seed == 1 || seed == 3 || seed == 5) {
        EXPECT_LT(stretch.quality.decoded, static_cast<int64_t>(n));
      }
    }
  }
  // The runs took the reference's stretches from the cache.
  if (clip.shortcut) {
    EXPECT_GT(cache.bytes(), 0u);
  }
  EXPECT_LE(small.bytes(), kSmall);
}

// The cache keeps what fits its bound and no more.
TEST(ReferenceCacheTest, KeepsStretchesWithinItsBound) {
  ReferenceCache cache(1000);
  auto stretch = [](size_t bytes) {
    auto s = std::make_shared<StretchPictures>();
    s->bytes = bytes;
    return s;
  };
  EXPECT_TRUE(cache.room_for(1000));
  cache.put(0, stretch(600));
  cache.put(50, stretch(600));  // past the bound: not kept
  cache.put(100, stretch(400));
  cache.put(0, stretch(1));  // there already
  EXPECT_NE(nullptr, cache.find(0));
  EXPECT_EQ(nullptr, cache.find(50));
  EXPECT_NE(nullptr, cache.find(100));
  EXPECT_EQ(600u, cache.find(0)->bytes);
  EXPECT_EQ(1000u, cache.bytes());
  EXPECT_FALSE(cache.room_for(1));
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, StretchDecodeTest,
    ::testing::Values(
        Clip{"h264", "-c:v libx264 -bf 2 -g 24 -keyint_min 24 -sc_threshold 0 -pix_fmt yuv420p",
             true},
        Clip{"hevc",
             "-c:v libx265 -x265-params "
             "keyint=24:min-keyint=24:bframes=2:open-gop=0:scenecut=0:log-level=error "
             "-pix_fmt yuv420p",
             true},
        Clip{"mjpeg", "-c:v mjpeg -q:v 5", true},
        // The encoders' defaults: three B-frames, a B-pyramid, scene cuts.
        Clip{"h264_defaults", "-c:v libx264 -g 25 -threads 1 -pix_fmt yuv420p", true},
        // x265's open GOPs (CRA points) are not trusted: decoded whole.
        Clip{"hevc_defaults", "-c:v libx265 -g 25 -x265-params log-level=error -pix_fmt yuv420p",
             false},
        Clip{"h264_open_gop",
             "-c:v libx264 -bf 2 -g 24 -keyint_min 24 -sc_threshold 0 -x264-params open-gop=1 "
             "-pix_fmt yuv420p",
             false}),
    [](const ::testing::TestParamInfo<Clip>& info) { return std::string(info.param.name); });

}  // namespace
