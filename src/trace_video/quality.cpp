// The figures of what the viewer saw. SSIM follows ffmpeg's ssim filter
// (itself x264's): sums over 4x4 blocks, each 8x8 window on a 4-pixel grid
// the sum of 2x2 blocks, integer sums and a float per window.

#include "trace_video/quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "trace_io/statistics.h"
#include "trace_video/pixel_sums.h"

namespace {

// The SSIM constants scaled to sums over 64 samples: c1 = (0.01*255)^2 and
// c2 = (0.03*255)^2, times 64 and 64*63, rounded, as integers.
constexpr int kSsimC1 = static_cast<int>(.01 * .01 * 255 * 255 * 64 + .5);
constexpr int kSsimC2 = static_cast<int>(.03 * .03 * 255 * 255 * 64 * 63 + .5);

float window_ssim(int s1, int s2, int ss, int s12) {
  int vars = ss * 64 - s1 * s1 - s2 * s2;
  int covar = s12 * 64 - s1 * s2;
  return static_cast<float>(2 * s1 * s2 + kSsimC1) * static_cast<float>(2 * covar + kSsimC2) /
         (static_cast<float>(s1 * s1 + s2 * s2 + kSsimC1) * static_cast<float>(vars + kSsimC2));
}

double squared_error(const Plane& a, const Plane& b) {
  SumPath path = best_sum_path();
  uint64_t sum = 0;
  for (int y = 0; y < a.height; ++y)
    sum += squared_error_row(a.data + y * a.stride, b.data + y * b.stride, a.width, path);
  return static_cast<double>(sum);
}

}  // namespace

double psnr_of(double mse) {
  if (mse <= 0) return kMaxPsnr;
  return std::min(kMaxPsnr, 10 * std::log10(255.0 * 255.0 / mse));
}

int mos_of(double psnr_y) {
  return psnr_y > 37 ? 5 : psnr_y > 31 ? 4 : psnr_y > 25 ? 3 : psnr_y > 20 ? 2 : 1;
}

double SlotFigures::psnr_y() const { return psnr_of(mse_y); }
double SlotFigures::psnr_avg() const { return psnr_of(mse_avg); }
int SlotFigures::mos() const { return mos_of(psnr_y()); }

std::optional<double> ssim_plane(const Plane& a, const Plane& b) {
  int blocks = a.width / 4, rows = a.height / 4;
  if (blocks < 2 || rows < 2) return std::nullopt;
  std::vector<BlockSums> upper(static_cast<size_t>(blocks)), lower(static_cast<size_t>(blocks));
  double ssim = 0;
  SumPath path = best_sum_path();
  block_sums(a.data, a.stride, b.data, b.stride, upper.data(), blocks, path);
  for (int y = 1; y < rows; ++y) {
    block_sums(a.data + 4 * y * a.stride, a.stride, b.data + 4 * y * b.stride, b.stride,
               lower.data(), blocks, path);
    for (int i = 0; i + 1 < blocks; ++i) {
      const BlockSums &p = upper[i], &q = upper[i + 1], &r = lower[i], &t = lower[i + 1];
      ssim += window_ssim(p.s1 + q.s1 + r.s1 + t.s1, p.s2 + q.s2 + r.s2 + t.s2,
                          p.ss + q.ss + r.ss + t.ss, p.s12 + q.s12 + r.s12 + t.s12);
    }
    std::swap(upper, lower);
  }
  return ssim / (static_cast<double>(rows - 1) * (blocks - 1));
}

namespace {

bool same_samples(const Plane& a, const Plane& b) {
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.data + y * a.stride, b.data + y * b.stride, static_cast<size_t>(a.width)) !=
        0)
      return false;
  return true;
}

}  // namespace

SlotFigures compare_pictures(const Picture& a, const Picture& b) {
  SlotFigures f;
  // Equal pictures (a slot shown as sent) have no error and an SSIM of
  // exactly 1 in every window: the same figures, at the cost of a compare.
  if (same_samples(a.planes[0], b.planes[0]) && same_samples(a.planes[1], b.planes[1]) &&
      same_samples(a.planes[2], b.planes[2])) {
    if (a.planes[0].width / 4 >= 2 && a.planes[0].height / 4 >= 2) f.ssim_y = 1.0;
    return f;
  }
  double sse[3];
  double samples = 0;
  for (int c = 0; c < 3; ++c) {
    sse[c] = squared_error(a.planes[c], b.planes[c]);
    samples += static_cast<double>(a.planes[c].width) * a.planes[c].height;
  }
  f.mse_y = sse[0] / (static_cast<double>(a.planes[0].width) * a.planes[0].height);
  f.mse_avg = (sse[0] + sse[1] + sse[2]) / samples;
  f.ssim_y = ssim_plane(a.planes[0], b.planes[0]);
  return f;
}

int32_t SlotPlayer::open(int32_t frame, int64_t fed) {
  fed_ = fed;
  bool first = frame >= 0 && static_cast<size_t>(frame) < slot_of_.size() &&
               slot_of_[static_cast<size_t>(frame)] == -1;
  if (first) slot_of_[static_cast<size_t>(frame)] = slot_;
  frame_ = first ? frame : -1;
  return frame_;
}

bool SlotPlayer::passed(int32_t frame) const {
  if (frame < 0 || static_cast<size_t>(frame) >= slot_of_.size()) return true;
  int64_t slot = slot_of_[static_cast<size_t>(frame)];
  // Not shown yet by the undamaged decode, which is well past its packet:
  // never shown.
  return slot != -1 ? slot < slot_ : fed_ > int64_t{frame} + 1 + lag_;
}

bool SlotPlayer::place_identical() {
  for (int32_t f : got_) {
    bool unshown = f >= 0 && static_cast<size_t>(f) < slot_of_.size() &&
                   slot_of_[static_cast<size_t>(f)] == -1;
    if (unshown || !passed(f)) return false;
  }
  got_.clear();
  ++slot_;
  return true;
}

void QualitySummary::add(const SlotFigures& f, bool frozen_slot) {
  ++slots;
  frozen += frozen_slot;
  psnr_y.push_back(f.psnr_y());
  mse_avg_sum += f.mse_avg;
  if (f.ssim_y) {
    ssim_sum += *f.ssim_y;
    ++ssim_slots;
  }
  ++mos_count[f.mos()];
}

namespace {

// The summary's figures over all slots: nothing where there is no slot.
struct QualityFigures {
  int64_t frozen = 0, without_slot = 0;
  std::optional<double> psnr_mean, psnr_p5, psnr_min, psnr_avg, ssim_mean, mos_mean;
  std::optional<double> mos_pct[6];
};

QualityFigures figures_of(const QualitySummary& s) {
  QualityFigures q;
  q.frozen = s.frozen;
  q.without_slot = s.without_slot;
  if (s.slots == 0) return q;
  double n = static_cast<double>(s.slots);
  std::vector<double> sorted = s.psnr_y;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double p : sorted) sum += p;  // in ascending order, as the figures always were
  q.psnr_mean = sum / n;
  q.psnr_min = sorted.front();
  q.psnr_p5 = nearest_rank(sorted, 5);
  q.psnr_avg = psnr_of(s.mse_avg_sum / n);
  if (s.ssim_slots > 0) q.ssim_mean = s.ssim_sum / static_cast<double>(s.ssim_slots);
  double mos = 0;
  for (int k = 1; k <= 5; ++k) mos += k * static_cast<double>(s.mos_count[k]);
  q.mos_mean = mos / n;
  for (int k = 1; k <= 5; ++k) q.mos_pct[k] = 100 * static_cast<double>(s.mos_count[k]) / n;
  return q;
}

using Q = QualityFigures;
// clang-format off
const std::vector<Figure<Q>> kQualityFigures = {
    {"frames_frozen", "frames_frozen", "", [](const Q& q) { return count_text(q.frozen); }},
    {"psnr_y_mean_db", "psnr_y_mean_db", "", [](const Q& q) { return optional_number(q.psnr_mean); }},
    {"psnr_y_p5_db", "psnr_y_p5_db", "", [](const Q& q) { return optional_number(q.psnr_p5); }},
    {"psnr_y_min_db", "psnr_y_min_db", "", [](const Q& q) { return optional_number(q.psnr_min); }},
    {"psnr_avg_db", "psnr_avg_db", "", [](const Q& q) { return optional_number(q.psnr_avg); }},
    {"ssim_y_mean", "ssim_y_mean", "", [](const Q& q) { return optional_number(q.ssim_mean); }},
    {"mos_mean", "mos_mean", "", [](const Q& q) { return optional_number(q.mos_mean); }},
    {"mos1_pct", "mos1_pct", "", [](const Q& q) { return optional_number(q.mos_pct[1]); }},
    {"mos2_pct", "mos2_pct", "", [](const Q& q) { return optional_number(q.mos_pct[2]); }},
    {"mos3_pct", "mos3_pct", "", [](const Q& q) { return optional_number(q.mos_pct[3]); }},
    {"mos4_pct", "mos4_pct", "", [](const Q& q) { return optional_number(q.mos_pct[4]); }},
    {"mos5_pct", "mos5_pct", "", [](const Q& q) { return optional_number(q.mos_pct[5]); }},
    {"frames_without_slot", "frames_without_slot", "", [](const Q& q) { return count_text(q.without_slot); }},
};
// clang-format on

}  // namespace

const std::vector<std::string>& quality_names() {
  static const std::vector<std::string> names = names_of(kQualityFigures);
  return names;
}

std::vector<Field> quality_fields(const QualitySummary& summary) {
  return fields_of(kQualityFigures, figures_of(summary));
}
