// What the viewer saw, as plain functions over plain records: which
// decoded frame each display slot shows (or that it is frozen), the
// picture-quality figures of a slot against its reference frame, and
// their summary. The part that decodes (decode.h) stays apart, so that
// tables of cases drive these without a video.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "trace_io/table_output.h"

// 8-bit planar YUV pictures as the figures read them.
struct Plane {
  const uint8_t* data = nullptr;
  ptrdiff_t stride = 0;
  int width = 0, height = 0;
};
struct Picture {
  Plane planes[3];
};

// The figures of one slot. PSNR is 10 log10(255^2 / MSE), at most kMaxPsnr
// (also for an MSE of 0).
inline constexpr double kMaxPsnr = 100;
struct SlotFigures {
  double mse_y = 0, mse_avg = 0;  // luma; all samples of the three planes
  double ssim_y = 1;
  double psnr_y() const;
  double psnr_avg() const;
  int mos() const;  // from psnr_y: 5 above 37 dB, 4 above 31, 3 above 25, 2 above 20, else 1
};
double psnr_of(double mse);
int mos_of(double psnr_y);

// The squared errors of a against b (same sizes), and the SSIM of their
// lumas as ffmpeg's ssim filter computes it: 8x8 windows on a 4-pixel
// grid, c1 = (0.01*255)^2, c2 = (0.03*255)^2.
SlotFigures compare_pictures(const Picture& a, const Picture& b);
// SSIM of one 8-bit plane pair.
double ssim_plane(const Plane& a, const Plane& b);

// Which decoded frame each slot shows, slot by slot in display order:
// slot j shows the received decode's frame whose timestamp is slot j's;
// where the decoder gives none, what slot j-1 showed (frozen); before the
// first decoded frame, a mid-gray frame (also frozen).
enum class Shown { kDecoded, kRepeated, kGray };
struct Placement {
  Shown shown;
  // Decoded frames used up, oldest first: those for no slot, then (when
  // shown is kDecoded) the one shown. The caller drops as many pictures.
  int consumed;
};
class SlotPlacer {
 public:
  // The received decoder gave a frame with this timestamp (in output order).
  void decoded(int64_t pts) { decoded_.push_back(pts); }
  // The received decoder will give no more frames.
  void finished() { finished_ = true; }
  // What the slot with timestamp pts shows; nothing, and nothing used up,
  // while the decoder may yet give its frame. fed: the frame's packet went
  // to the received decoder (no other frame can come out of it).
  std::optional<Placement> place(int64_t pts, bool fed);

 private:
  std::deque<int64_t> decoded_;
  bool finished_ = false;
  bool any_shown_ = false;
};

// The quality summary over all slots, appended to receive's.
struct QualitySummary {
  int64_t slots = 0, frozen = 0;
  std::vector<double> psnr_y;  // per slot, as capped
  double mse_avg_sum = 0, ssim_sum = 0;
  int64_t mos_count[6] = {0, 0, 0, 0, 0, 0};
  void add(const SlotFigures& f, bool frozen_slot);
};
const std::vector<std::string>& quality_names();
std::vector<Field> quality_fields(const QualitySummary& summary);
