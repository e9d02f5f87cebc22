// The decoding loop of trace_video receive.
//
// The slots are the pictures the undamaged stream shows, in the order its
// decoder gives them: the reference decode, whose pictures are known by
// the frame number of their packet (decoder.h). The received decoder's
// pictures are placed as a player places them: each in its frame's slot,
// the slots it skipped frozen on the last picture shown (gray before the
// first); a picture whose slot has passed, or that the undamaged stream
// never shows, is dropped.

#include "trace_video/measure.h"

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

[[noreturn]] void fail_changed(const std::string& path) {
  fail(path + ": the file changed while it was being read");
}

class Measurer {
 public:
  Measurer(RunState& run, const ReceiveOptions& options, const std::string& video,
           const std::vector<Judged>& judged, std::vector<SlotResult>& slots)
      : video_(video),
        ref_path_(options.reference.empty() ? video : options.reference),
        judged_(judged),
        slots_(slots),
        frames_(static_cast<int32_t>(judged.size())),
        received_(video, options.fps),
        decoder_(video, received_.stream(), run.one_thread),
        yuv_(options.yuv.empty() ? nullptr : open_yuv(run, options.yuv, received_.stream())),
        // Decoded ahead on threads of their own (unless the run keeps to
        // one), beside the received stream's decoding here. With another
        // reference, VIDEO's own decode gives the display order.
        truth_(ref_path_, run.one_thread,
               options.reference.empty() ? std::optional(frames_) : std::nullopt),
        order_(options.reference.empty()
                   ? nullptr
                   : std::make_unique<FrameSource>(video, run.one_thread, frames_)),
        player_(judged.size(), order_ ? order_->lag() : truth_.lag()) {}

  QualitySummary run() {
    auto keep = [&](FramePtr picture, int32_t from) {
      check_size(picture.get());
      player_.decoded(from);
      got_.push_back(std::move(picture));
    };
    int32_t read = 0;
    for (VideoFrame frame; received_.next(frame); read = frame.frame + 1) {
      if (frame.frame >= frames_) fail_changed(video_);
      if (received(frame.frame)) decoder_.send(received_.packet(), frame.frame, keep);
      advance();
    }
    if (read != frames_) fail_changed(video_);
    decoder_.send(nullptr, -1, keep);
    finished_ = true;
    advance();
    if (yuv_) yuv_->close();
    quality_.without_slot = frames_ - player_.slots();
    return quality_;
  }

 private:
  static std::unique_ptr<Y4mWriter> open_yuv(RunState& run, const std::string& path,
                                             const AVStream* stream) {
    return std::make_unique<Y4mWriter>(run, path, stream->avg_frame_rate.num,
                                       stream->avg_frame_rate.den);
  }

  bool received(int32_t f) const {
    return judged_[static_cast<size_t>(f)].verdict.status == ReceiveStatus::kReceived;
  }

  // A stream whose pictures change size cannot be measured slot by slot
  // (nor written as YUV4MPEG2): refused as soon as it shows.
  void check_size(const AVFrame* picture) {
    if (!first_) {
      first_.reset(allocated(av_frame_alloc()));
      first_->width = picture->width;
      first_->height = picture->height;
      first_->format = picture->format;
    } else if (!same_shape(first_.get(), picture)) {
      fail(video_ + ": the picture size changes within the stream (" + frame_shape(first_.get()) +
           ", then " + frame_shape(picture) +
           "): the quality figures take one size throughout; give --no-decode");
    }
  }

  // The next slot's frame and reference picture into next_; false after
  // the last slot.
  bool pull_slot() {
    if (next_.picture) return true;
    if (ended_) return false;
    Decoded d = truth_.next();
    if (order_) {
      Decoded o = order_->next();
      if (!o.picture) {
        if (d.picture)
          fail(ref_path_ + ": has more frames than the video's " + std::to_string(player_.slots()));
        ended_ = true;
        return false;
      }
      if (!d.picture) {
        int64_t shown = player_.slots() + 1;
        while (order_->next().picture) ++shown;
        fail(ref_path_ + ": has " + std::to_string(player_.slots()) +
             " frames, fewer than the video's " + std::to_string(shown));
      }
      d.frame = o.frame;
      d.fed = o.fed;
    } else {
      if (!d.picture) {
        ended_ = true;
        return false;
      }
      check_size(d.picture.get());
    }
    // A picture of no known packet, or a second one of a packet, takes a
    // slot that no received picture can fill.
    d.frame = player_.open(d.frame, d.fed);
    next_ = std::move(d);
    return true;
  }

  // Measures every slot whose picture is known by now.
  void advance() {
    auto received = [&](int32_t f) { return this->received(f); };
    while (pull_slot()) {
      std::optional<Placement> p = player_.place(finished_, received);
      if (!p) return;
      got_.erase(got_.begin(), got_.begin() + p->dropped);
      if (p->decoded) {
        shown_ = std::move(got_.front());
        got_.pop_front();
      }
      measure_slot(next_.frame, p->decoded);
      next_ = {};
    }
  }

  void measure_slot(int32_t f, bool decoded) {
    const AVFrame* truth = next_.picture.get();
    if (!shown_) shown_ = gray_like(truth);
    if (!same_shape(shown_.get(), truth))
      fail(ref_path_ + ": frames of " + frame_shape(truth) + ", the video's are " +
           frame_shape(shown_.get()) +
           ": the reference must have the video's size and pixel format");
    SlotFigures figures =
        compare_pictures(picture_of(shown_.get(), video_), picture_of(truth, ref_path_));
    if (f >= 0) slots_[static_cast<size_t>(f)] = {player_.slots() - 1, !decoded, figures};
    quality_.add(figures, !decoded);
    if (yuv_) yuv_->write(shown_.get());
  }

  const std::string& video_;
  const std::string ref_path_;
  const std::vector<Judged>& judged_;
  std::vector<SlotResult>& slots_;
  const int32_t frames_;
  VideoReader received_;
  Decoder decoder_;
  std::unique_ptr<Y4mWriter> yuv_;
  FrameSource truth_;
  std::unique_ptr<FrameSource> order_;
  SlotPlayer player_;
  std::deque<FramePtr> got_;  // the received decoder's pictures, as the player's
  Decoded next_;              // the next slot's frame and reference picture
  FramePtr shown_, first_;
  bool finished_ = false, ended_ = false;
  QualitySummary quality_;
};

}  // namespace

QualitySummary measure(RunState& run, const ReceiveOptions& options, const std::string& video,
                       const std::vector<Judged>& judged, std::vector<SlotResult>& slots) {
  return Measurer(run, options, video, judged, slots).run();
}
