// What the viewer saw, as plain functions over plain records: the
// picture-quality figures of a slot against its reference frame, and
// their summary. The part that decodes (measure.h) stays apart, so that
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
  std::optional<double> ssim_y;   // none for a picture under 8x8: no window
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
// SSIM of one 8-bit plane pair; none when it has no 8x8 window.
std::optional<double> ssim_plane(const Plane& a, const Plane& b);

// Which picture each slot shows, as a player shows the received decoder's
// pictures. The slots are the undamaged stream's pictures in its
// decoder's output order; every picture is known by the frame (packet) it
// came from. The received decoder's pictures, in its output order: each
// shows in its frame's slot, the slots it skipped are frozen on the last
// picture shown (gray before the first), and a picture whose slot has
// passed, or whose frame the undamaged decode never shows, is dropped.
struct Placement {
  bool decoded;  // the slot shows the received picture after the dropped ones
  int dropped;   // received pictures dropped first, oldest first
};
class SlotPlayer {
 public:
  // frames: the stream's packets. lag: how many packets after its own the
  // undamaged decoder gives a picture, at most (Decoder::lag()).
  SlotPlayer(size_t frames, int lag) : slot_of_(frames, -1), lag_(lag) {}
  // Opens the next slot: the undamaged decoder's next picture, from frame
  // `frame` (-1: none known), given when `fed` packets had gone in.
  // Returns the frame the slot is for: -1 when unknown or already shown.
  int32_t open(int32_t frame, int64_t fed);
  // The received decoder gave a picture from this frame (-1: none known).
  void decoded(int32_t frame) { got_.push_back(frame); }
  // What the open slot shows; nothing (and nothing dropped) while a
  // picture that may still come decides it. finished: the received
  // decoder gives no more; received(f): frame f went to it.
  template <typename Received>
  std::optional<Placement> place(bool finished, const Received& received);
  // The open slot shows its own frame's received picture, the same as the
  // undamaged one, which was never handed to the player: true when every
  // picture the player holds has had its slot and is dropped; false when
  // one may still be shown, and nothing changes.
  bool place_identical();
  int64_t slots() const { return slot_; }

 private:
  bool passed(int32_t frame) const;
  std::vector<int64_t> slot_of_;  // by frame: its slot, -1 while none
  std::deque<int32_t> got_;
  int lag_;
  int32_t frame_ = -1;  // the open slot's
  int64_t fed_ = 0, slot_ = 0;
};

template <typename Received>
std::optional<Placement> SlotPlayer::place(bool finished, const Received& received) {
  Placement p{false, 0};
  while (static_cast<size_t>(p.dropped) < got_.size() &&
         passed(got_[static_cast<size_t>(p.dropped)]))
    ++p.dropped;
  bool none = static_cast<size_t>(p.dropped) == got_.size();
  if (none && !finished && frame_ >= 0 && received(frame_)) return std::nullopt;  // may yet come
  p.decoded = !none && frame_ >= 0 && got_[static_cast<size_t>(p.dropped)] == frame_;
  got_.erase(got_.begin(), got_.begin() + p.dropped + (p.decoded ? 1 : 0));
  ++slot_;
  return p;
}

// The quality summary over all slots, appended to receive's.
struct QualitySummary {
  int64_t slots = 0, frozen = 0;
  int64_t without_slot = 0;    // frames the undamaged stream never shows
  std::vector<double> psnr_y;  // per slot, as capped
  double mse_avg_sum = 0, ssim_sum = 0;
  int64_t ssim_slots = 0;  // slots with an SSIM
  int64_t mos_count[6] = {0, 0, 0, 0, 0, 0};
  int64_t decoded = 0;  // frames decoded of each stream (not a figure: how much work)
  void add(const SlotFigures& f, bool frozen_slot);
};
const std::vector<std::string>& quality_names();
std::vector<Field> quality_fields(const QualitySummary& summary);
