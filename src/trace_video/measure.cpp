// The decoding loop of trace_video receive.

#include "trace_video/measure.h"

#include <algorithm>
#include <deque>
#include <memory>

#include "trace_io/failure.h"
#include "trace_video/decoder.h"
#include "trace_video/pictures.h"
#include "trace_video/video_file.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

class Measurer {
 public:
  Measurer(RunState& run, const ReceiveOptions& options, const std::string& video,
           const std::vector<Judged>& judged, std::vector<SlotResult>& slots)
      : video_(video),
        ref_path_(options.reference.empty() ? video : options.reference),
        judged_(judged),
        slots_(slots),
        order_(display_order(judged, video)),
        received_(video, options.fps),
        decoder_(video, received_.stream(), run.one_thread),
        yuv_(options.yuv.empty() ? nullptr : open_yuv(run, options.yuv, received_.stream())),
        // Decoded ahead on a thread of its own (unless the run keeps to
        // one), beside the received stream's decoding here.
        reference_(ref_path_, run.one_thread) {}

  QualitySummary run() {
    auto decoded = [&](FramePtr frame, int64_t pts) {
      placer_.decoded(pts);
      got_.push_back(std::move(frame));
    };
    for (VideoFrame frame; received_.next(frame);) {
      if (judged_[frame.frame].verdict.status == ReceiveStatus::kReceived)
        decoder_.send(received_.packet(), decoded);
      advance();
    }
    decoder_.send(nullptr, decoded);
    placer_.finished();
    advance();
    pull_reference();
    if (!ref_.empty())
      fail(ref_path_ + ": has more frames than the video's " + std::to_string(judged_.size()));
    if (yuv_) yuv_->close();
    return quality_;
  }

 private:
  // The frames in display order: by presentation time, ties in decode order.
  static std::vector<int32_t> display_order(const std::vector<Judged>& judged,
                                            const std::string& video) {
    std::vector<int32_t> order(judged.size());
    for (size_t f = 0; f < judged.size(); ++f) {
      order[f] = static_cast<int32_t>(f);
      if (judged[f].frame.pts == INT64_MIN)
        fail(video + ": frame " + std::to_string(f) +
             " has no presentation timestamp, which the display order needs; give --no-decode");
    }
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return judged[a].frame.pts < judged[b].frame.pts;
    });
    return order;
  }

  static std::unique_ptr<Y4mWriter> open_yuv(RunState& run, const std::string& path,
                                             const AVStream* stream) {
    return std::make_unique<Y4mWriter>(run, path, stream->avg_frame_rate.num,
                                       stream->avg_frame_rate.den);
  }

  void pull_reference() {
    if (!ref_.empty()) return;
    if (FramePtr frame = reference_.next()) ref_.push_back(std::move(frame));
  }

  // Measures every slot whose picture is known by now.
  void advance() {
    for (; slot_ < order_.size(); ++slot_) {
      int32_t f = order_[slot_];
      std::optional<Placement> p = placer_.place(
          judged_[f].frame.pts, judged_[f].verdict.status == ReceiveStatus::kReceived);
      if (!p) return;
      pull_reference();
      if (ref_.empty())
        fail(ref_path_ + ": has " + std::to_string(slot_) + " frames, fewer than the video's " +
             std::to_string(order_.size()));
      for (int k = 0; k < p->consumed; ++k) {
        if (k + 1 == p->consumed && p->shown == Shown::kDecoded) shown_ = std::move(got_.front());
        got_.pop_front();
      }
      measure_slot(f, *p, ref_.front().get());
      ref_.pop_front();
    }
  }

  void measure_slot(int32_t f, const Placement& p, const AVFrame* truth) {
    if (p.shown == Shown::kGray) shown_ = gray_like(truth);
    if (!same_shape(shown_.get(), truth))
      fail(ref_path_ + ": frames of " + frame_shape(truth) + ", the video's are " +
           frame_shape(shown_.get()) + ": the reference must have the video's size and pixel format");
    SlotResult& r = slots_[f];
    r.display = static_cast<int64_t>(slot_);
    r.frozen = p.shown != Shown::kDecoded;
    r.figures = compare_pictures(picture_of(shown_.get(), video_), picture_of(truth, ref_path_));
    quality_.add(r.figures, r.frozen);
    if (yuv_) yuv_->write(shown_.get());
  }

  const std::string& video_;
  const std::string ref_path_;
  const std::vector<Judged>& judged_;
  std::vector<SlotResult>& slots_;
  const std::vector<int32_t> order_;
  VideoReader received_;
  Decoder decoder_;
  std::unique_ptr<Y4mWriter> yuv_;
  FrameSource reference_;
  std::deque<FramePtr> got_, ref_;
  SlotPlacer placer_;
  FramePtr shown_;
  size_t slot_ = 0;
  QualitySummary quality_;
};

}  // namespace

QualitySummary measure(RunState& run, const ReceiveOptions& options, const std::string& video,
                       const std::vector<Judged>& judged, std::vector<SlotResult>& slots) {
  return Measurer(run, options, video, judged, slots).run();
}
