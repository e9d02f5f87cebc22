// The decoding loop of trace_video receive.
//
// The slots are the pictures the undamaged stream shows, in the order its
// decoder gives them: the reference decode, whose pictures are known by
// the frame number of their packet (decoder.h). The received decoder's
// pictures are placed as a player places them: each in its frame's slot,
// the slots it skipped frozen on the last picture shown (gray before the
// first); a picture whose slot has passed, or that the undamaged stream
// never shows, is dropped.
//
// Where the stream's random-access points allow (stretches.h), only the
// damaged stretches are decoded, both streams each from the stretch's
// start; the slots of a stretch that arrived whole show the undamaged
// pictures, with the figures of identical pictures. Whatever the stretch
// decodes cannot confirm (a picture order the container's times do not
// give, a frame without a picture, a picture left over that the player
// may still show) sends the run back to decoding everything: the figures
// are the full decode's or none.

#include "trace_video/measure.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "trace_io/failure.h"
#include "trace_video/decoder.h"
#include "trace_video/pictures.h"
#include "trace_video/random_access.h"
#include "trace_video/reference_cache.h"
#include "trace_video/stretches.h"
#include "trace_video/video_file.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

[[noreturn]] void fail_changed(const std::string& path) {
  fail(path + ": the file changed while it was being read");
}

// Thrown where the stretches cannot be sure of the full decode's figures.
struct NeedsFullDecode {};

// What the two ways of decoding share: the player, the slots measured and
// the picture shown.
class SlotMeasurer {
 protected:
  SlotMeasurer(const std::string& video, const std::string& ref_path,
               const std::vector<Judged>& judged, std::vector<SlotResult>& slots, Y4mWriter* yuv,
               int lag)
      : video_(video),
        ref_path_(ref_path),
        judged_(judged),
        slots_(slots),
        frames_(static_cast<int32_t>(judged.size())),
        yuv_(yuv),
        player_(judged.size(), lag) {}

  bool received(int32_t f) const {
    return f >= 0 && f < frames_ &&
           judged_[static_cast<size_t>(f)].verdict.status == ReceiveStatus::kReceived;
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

  void keep_received(FramePtr picture, int32_t from) {
    check_size(picture.get());
    player_.decoded(from);
    got_.push_back(std::move(picture));
  }

  // Slot `player_.slots() - 1`, of frame f (-1: none's), shows shown_
  // against the reference picture truth.
  void measure_slot(int32_t f, bool decoded, const AVFrame* truth) {
    if (!shown_) shown_ = gray_like(truth);
    if (!same_shape(shown_.get(), truth))
      fail(ref_path_ + ": frames of " + frame_shape(truth) + ", the video's are " +
           frame_shape(shown_.get()) +
           ": the reference must have the video's size and pixel format");
    add_slot(f, decoded,
             compare_pictures(picture_of(shown_.get(), video_), picture_of(truth, ref_path_)));
    if (yuv_) yuv_->write(shown_.get());
  }

  void add_slot(int32_t f, bool decoded, const SlotFigures& figures) {
    if (f >= 0) slots_[static_cast<size_t>(f)] = {player_.slots() - 1, !decoded, figures};
    quality_.add(figures, !decoded);
  }

  const std::string& video_;
  const std::string ref_path_;
  const std::vector<Judged>& judged_;
  std::vector<SlotResult>& slots_;
  const int32_t frames_;
  Y4mWriter* yuv_;
  SlotPlayer player_;
  std::deque<FramePtr> got_;  // the received decoder's pictures, as the player's
  FramePtr shown_, first_;
  QualitySummary quality_;
};

// Both streams decoded whole.
class FullMeasurer : SlotMeasurer {
 public:
  FullMeasurer(RunState& run, const ReceiveOptions& options, const std::string& video,
               const std::vector<Judged>& judged, std::vector<SlotResult>& slots, Y4mWriter* yuv)
      : FullMeasurer(run, options, video, judged, slots, yuv,
                     std::make_unique<VideoReader>(video, options.fps)) {}

  QualitySummary run() {
    auto keep = [&](FramePtr picture, int32_t from) { keep_received(std::move(picture), from); };
    int32_t read = 0;
    for (VideoFrame frame; received_->next(frame); read = frame.frame + 1) {
      if (frame.frame >= frames_) fail_changed(video_);
      if (received(frame.frame)) decoder_.send(received_->packet(), frame.frame, keep);
      advance();
    }
    if (read != frames_) fail_changed(video_);
    decoder_.send(nullptr, -1, keep);
    finished_ = true;
    advance();
    quality_.without_slot = frames_ - player_.slots();
    quality_.decoded = frames_;
    return quality_;
  }

 private:
  FullMeasurer(RunState& run, const ReceiveOptions& options, const std::string& video,
               const std::vector<Judged>& judged, std::vector<SlotResult>& slots, Y4mWriter* yuv,
               std::unique_ptr<VideoReader> reader)
      : SlotMeasurer(video, options.reference.empty() ? video : options.reference, judged, slots,
                     yuv, 0),
        received_(std::move(reader)),
        decoder_(video, received_->stream(), run.one_thread),
        // Decoded ahead on threads of their own (unless the run keeps to
        // one), beside the received stream's decoding here. With another
        // reference, VIDEO's own decode gives the display order.
        truth_(ref_path_, run.one_thread,
               options.reference.empty() ? std::optional(frames_) : std::nullopt),
        order_(options.reference.empty()
                   ? nullptr
                   : std::make_unique<FrameSource>(video, run.one_thread, frames_)) {
    player_ = SlotPlayer(judged.size(), order_ ? order_->lag() : truth_.lag());
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
      measure_slot(next_.frame, p->decoded, next_.picture.get());
      next_ = {};
    }
  }

  std::unique_ptr<VideoReader> received_;
  Decoder decoder_;
  FrameSource truth_;
  std::unique_ptr<FrameSource> order_;
  Decoded next_;  // the next slot's frame and reference picture
  bool finished_ = false, ended_ = false;
};

// A reference picture for a slot, or the end of a damaged stretch's.
struct TruthItem {
  FramePtr picture;
  int32_t frame = -1;
  int64_t fed = 0;
  size_t ended = SIZE_MAX;  // not SIZE_MAX: the plan's stretch whose pictures all came
};

// The reference over the damaged stretches of the plan, fed every packet
// of VIDEO in order. Its decoder is fresh at each of the reference's own
// random-access points (every one, lost or not: the reference lost
// nothing) and emptied at the next, so that each such stretch's pictures
// are the same whatever run or stretch needs them: kept in the sweep's
// cache, or taken from it. Gives its pictures, each stretch's end after
// them, to `give`.
class RegionTruth {
 public:
  RegionTruth(const std::string& video, const AVStream* stream, const std::vector<Stretch>& plan,
              const std::vector<Judged>& judged, bool resets_trusted, ReferenceCache* cache,
              bool one_thread, std::function<void(TruthItem)> give)
      : video_(video),
        stream_(stream),
        plan_(plan),
        judged_(judged),
        resets_trusted_(resets_trusted),
        cache_(cache),
        one_thread_(one_thread),
        give_(std::move(give)) {}

  void feed(AVPacket* packet, int32_t f) {
    if (in_ && f >= plan_[s_].end) finish();
    while (plan_[s_].end <= f) ++s_;
    if (plan_[s_].decode && f == plan_[s_].begin) {
      in_ = true;
      shown_ = 0;
      last_pts_ = INT64_MIN;
    }
    if (!in_) return;
    if (f == plan_[s_].begin || (resets_trusted_ && judged_[static_cast<size_t>(f)].frame.resets))
      start(f);
    if (decoder_) {
      ++fed_;
      decoder_->send(packet, f, [&](FramePtr p, int32_t from) { decoded(std::move(p), from); });
    }
  }

  // The stretch being decoded ends (the stream's end or the next one's start).
  void finish() {
    if (!in_) return;
    end();
    in_ = false;
    const Stretch& s = plan_[s_];
    if (shown_ != s.end - s.begin) throw NeedsFullDecode{};
    give_({nullptr, -1, 0, s_});
  }

 private:
  // The reference's stretch from frame f: from the cache, or decoded.
  void start(int32_t f) {
    end();
    begin_ = f;
    fed_ = 0;
    if (std::shared_ptr<const StretchPictures> kept = cache_ ? cache_->find(f) : nullptr) {
      for (const StretchPictures::Picture& p : kept->pictures)
        give(FramePtr(allocated(av_frame_clone(p.picture.get()))), p.frame, f + p.fed);
      return;
    }
    decoder_.emplace(video_, stream_, one_thread_);
    if (cache_ && cache_->room_for(0)) keep_ = std::make_shared<StretchPictures>();
  }

  // What the decoder still holds comes out; its pictures go to the cache.
  void end() {
    if (!decoder_) return;
    ++fed_;
    decoder_->send(nullptr, -1, [&](FramePtr p, int32_t from) { decoded(std::move(p), from); });
    decoder_.reset();
    if (keep_) cache_->put(begin_, std::move(keep_));
    keep_.reset();
  }

  void decoded(FramePtr picture, int32_t from) {
    if (from < begin_ || from >= plan_[s_].end) throw NeedsFullDecode{};
    if (keep_) {
      keep_->bytes += picture_bytes(picture.get());
      keep_->pictures.push_back({FramePtr(allocated(av_frame_clone(picture.get()))), from, fed_});
      if (!cache_->room_for(keep_->bytes)) keep_.reset();
    }
    give(std::move(picture), from, begin_ + fed_);
  }

  void give(FramePtr picture, int32_t from, int64_t fed) {
    // Known stretches take their order from the container's times: the
    // decoded ones must agree, one picture a frame, in that order.
    const Stretch& s = plan_[s_];
    int64_t pts =
        from >= s.begin && from < s.end ? judged_[static_cast<size_t>(from)].frame.pts : INT64_MIN;
    if (pts == INT64_MIN || pts <= last_pts_) throw NeedsFullDecode{};
    last_pts_ = pts;
    ++shown_;
    give_({std::move(picture), from, fed, SIZE_MAX});
  }

  const std::string& video_;
  const AVStream* stream_;
  const std::vector<Stretch>& plan_;
  const std::vector<Judged>& judged_;
  const bool resets_trusted_;
  ReferenceCache* const cache_;
  const bool one_thread_;
  std::function<void(TruthItem)> give_;
  size_t s_ = 0;     // the plan's stretch of the last packet
  bool in_ = false;  // it is a damaged one
  std::optional<Decoder> decoder_;
  int32_t begin_ = -1;                     // the reference's stretch being decoded
  int64_t fed_ = 0;                        // packets its decoder was given
  std::shared_ptr<StretchPictures> keep_;  // its pictures, for the cache
  int64_t shown_ = 0;                      // pictures given of the plan's stretch
  int64_t last_pts_ = INT64_MIN;
};

// RegionTruth on a thread of its own, over its own reading of VIDEO: the
// reference decoded beside the received stream, a few pictures ahead.
class TruthWorker {
 public:
  static constexpr size_t kAhead = 8;
  TruthWorker(const std::string& video, std::optional<double> fps, const std::vector<Stretch>& plan,
              const std::vector<Judged>& judged, bool resets_trusted, ReferenceCache* cache)
      : reader_(video, fps),
        truth_(video, reader_.stream(), plan, judged, resets_trusted, cache, true,
               [this](TruthItem item) { put(std::move(item)); }),
        thread_(&TruthWorker::produce, this) {}
  ~TruthWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  TruthWorker(const TruthWorker&) = delete;
  TruthWorker& operator=(const TruthWorker&) = delete;

  // The next item, waiting for it; none once the reading ended. Rethrows
  // what stopped the thread.
  std::optional<TruthItem> take() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !queue_.empty() || done_; });
    if (queue_.empty()) {
      if (error_) std::rethrow_exception(error_);
      return std::nullopt;
    }
    TruthItem item = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return item;
  }

 private:
  struct Stopped {};
  void put(TruthItem item) {
#if defined(__SANITIZE_THREAD__)
    // The decoder's buffers return to its pool, and are freed, on this
    // thread, ordered by libavutil's atomic reference counts, which the
    // thread sanitizer does not see (the library is not instrumented):
    // there the other thread gets a copy it alone frees.
    if (item.picture) item.picture = copy_of(item.picture.get());
#endif
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || queue_.size() < kAhead; });
    if (stop_) throw Stopped{};
    queue_.push_back(std::move(item));
    changed_.notify_all();
  }
  void produce() {
    std::exception_ptr error;
    try {
      for (VideoFrame frame; reader_.next(frame);) truth_.feed(reader_.packet(), frame.frame);
      truth_.finish();
    } catch (const Stopped&) {
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = error;
    done_ = true;
    changed_.notify_all();
  }

  VideoReader reader_;
  RegionTruth truth_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::deque<TruthItem> queue_;
  bool done_ = false, stop_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

// Only the damaged stretches decoded. Each gets a received decoder of its
// own, fed until it has given every picture of the stretch (the first
// picture of the next one); the reference's pictures come from
// RegionTruth, on a thread of its own unless the run keeps to one. With
// --yuv the reference is decoded whole, once: the known stretches'
// pictures are written from it.
class StretchMeasurer : SlotMeasurer {
 public:
  StretchMeasurer(RunState& run, const ReceiveOptions& options, const std::string& video,
                  const std::vector<Judged>& judged, std::vector<SlotResult>& slots, Y4mWriter* yuv,
                  std::vector<Stretch> plan, int lag, bool resets_trusted)
      : SlotMeasurer(video, video, judged, slots, yuv, lag),
        resets_trusted_(resets_trusted),
        one_thread_(run.one_thread),
        fps_(options.fps),
        cache_(options.cache),
        reader_(video, options.fps),
        plan_(std::move(plan)),
        queued_(plan_.size(), false) {
    known_.resize(judged.size());
    for (const Stretch& s : plan_)
      for (int32_t f = s.begin; f < s.end; ++f) known_[static_cast<size_t>(f)] = !s.decode;
    if (yuv_) {
      truth_.emplace(video, reader_.stream(), one_thread_);
    } else {
      if (!one_thread_) {
        try {
          worker_ =
              std::make_unique<TruthWorker>(video, fps_, plan_, judged, resets_trusted, cache_);
        } catch (const std::system_error&) {
          // No thread to spare: the reference decoded here, in turn.
        }
      }
      if (!worker_)
        inline_truth_.emplace(video, reader_.stream(), plan_, judged, resets_trusted, cache_,
                              one_thread_, [this](TruthItem item) { take(std::move(item)); });
    }
    const AVCodecParameters* codec = reader_.stream()->codecpar;
    // Identical pictures: no error, SSIM 1 where a window fits.
    identical_.ssim_y =
        codec->width / 4 >= 2 && codec->height / 4 >= 2 ? std::optional<double>(1.0) : std::nullopt;
  }

  QualitySummary run() {
    // A known stretch's slots follow the damaged one's before it, or open
    // the video.
    if (!yuv_ && !plan_[0].decode) queue_known(0);
    size_t s = 0;
    int32_t read = 0;
    for (VideoFrame frame; reader_.next(frame); read = frame.frame + 1) {
      int32_t f = frame.frame;
      if (f >= frames_) fail_changed(video_);
      while (plan_[s].end <= f) ++s;
      if (f == plan_[s].begin && plan_[s].decode) open_region(s);
      AVPacket* packet = reader_.packet();
      if (truth_) {
        ++fed_;
        truth_->send(packet, f, [&](FramePtr p, int32_t from) { keep_truth(std::move(p), from); });
      }
      if (inline_truth_) inline_truth_->feed(packet, f);
      if (region_) feed_region(packet, f);
      advance();
    }
    if (read != frames_) fail_changed(video_);
    if (inline_truth_) inline_truth_->finish();
    if (region_) end_region();
    if (truth_) {
      ++fed_;
      truth_->send(nullptr, -1, [&](FramePtr p, int32_t from) { keep_truth(std::move(p), from); });
    }
    all_done_ = true;
    advance();
    if (!truth_q_.empty() || pending_ || completed_ != opened_) throw NeedsFullDecode{};
    quality_.without_slot = frames_ - player_.slots();
    quality_.decoded = decoded_;
    return quality_;
  }

 private:
  struct Truth {
    FramePtr picture;  // null: the reference picture of a known stretch, not decoded
    int32_t frame = -1;
    int64_t fed = 0;
    bool identical = false;  // the slot shows the undamaged picture
  };
  // A damaged stretch's received decoder.
  struct Region {
    int32_t begin, end;
    std::optional<Decoder> received;
    bool received_done = false;
  };

  void open_region(size_t s) {
    if (region_) end_region();  // a known stretch shorter than the decoder's delay
    region_.emplace();
    Region& r = *region_;
    r.begin = plan_[s].begin;
    r.end = plan_[s].end;
    decoded_ += r.end - r.begin;
    if (!yuv_) opened_ = static_cast<int64_t>(s);
    r.received.emplace(video_, reader_.stream(), one_thread_);
  }

  void feed_region(AVPacket* packet, int32_t f) {
    Region& r = *region_;
    if (received(f))
      r.received->send(packet, f,
                       [&](FramePtr p, int32_t from) { region_received(std::move(p), from); });
    if (r.received_done) region_.reset();
  }

  // The stream ends (or the next stretch begins) before the received
  // decoder gave a picture of what follows: what it still holds comes out.
  void end_region() {
    region_->received->send(nullptr, -1,
                            [&](FramePtr p, int32_t from) { region_received(std::move(p), from); });
    region_.reset();
    advance();
  }

  // The reference's picture for the next slot of a damaged stretch, or
  // the stretch's end: the known stretch after it comes next.
  void take(TruthItem item) {
    if (item.ended == SIZE_MAX) {
      truth_q_.push_back({std::move(item.picture), item.frame, item.fed, false});
      return;
    }
    completed_ = static_cast<int64_t>(item.ended);
    if (item.ended + 1 < plan_.size() && !plan_[item.ended + 1].decode) queue_known(item.ended + 1);
  }

  // Takes the worker's pictures while a damaged stretch the received
  // decoder has begun needs them, waiting for them; true when a slot is
  // queued.
  bool pull() {
    while (worker_ && truth_q_.empty() && completed_ < opened_) {
      std::optional<TruthItem> item = worker_->take();
      if (!item) return false;
      take(std::move(*item));
    }
    return !truth_q_.empty();
  }

  void region_received(FramePtr picture, int32_t from) {
    Region& r = *region_;
    if (r.received_done) return;
    if (from >= r.end) {
      r.received_done = true;
      return;
    }
    keep_received(std::move(picture), from);
  }

  // The reference's decode, whole (--yuv): every picture a slot.
  void keep_truth(FramePtr picture, int32_t from) {
    bool identical = from >= 0 && from < frames_ && known_[static_cast<size_t>(from)];
    truth_q_.push_back({std::move(picture), from, fed_, identical});
  }

  // The slots of known stretch s, in the order of the frames' times.
  void queue_known(size_t s) {
    if (queued_[s]) return;
    queued_[s] = true;
    std::vector<int32_t> order;
    for (int32_t f = plan_[s].begin; f < plan_[s].end; ++f) order.push_back(f);
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
      return judged_[static_cast<size_t>(a)].frame.pts < judged_[static_cast<size_t>(b)].frame.pts;
    });
    for (int32_t f : order) truth_q_.push_back({nullptr, f, int64_t{f} + 1, true});
  }

  // The received decoder has given every picture it will of frames before f.
  bool settled(int32_t f) const { return all_done_ || !region_ || f < region_->begin; }

  void advance() {
    auto received = [&](int32_t f) { return this->received(f); };
    for (;;) {
      if (!pending_ && truth_q_.empty() && !pull()) return;
      if (!pending_) {
        next_ = std::move(truth_q_.front());
        truth_q_.pop_front();
        if (next_.picture) check_size(next_.picture.get());
        int32_t frame = player_.open(next_.frame, next_.fed);
        if (next_.identical && frame != next_.frame) throw NeedsFullDecode{};
        next_.frame = frame;
        pending_ = true;
      }
      if (next_.identical) {
        if (!settled(next_.frame)) return;
        show_identical();
      } else {
        std::optional<Placement> p = player_.place(settled(next_.frame), received);
        if (!p) return;
        got_.erase(got_.begin(), got_.begin() + p->dropped);
        if (p->decoded) {
          shown_ = std::move(got_.front());
          got_.pop_front();
        }
        if (!shown_ && shown_frame_ >= 0) shown_ = reference_picture(shown_frame_);
        measure_slot(next_.frame, p->decoded, next_.picture.get());
        shown_frame_ = -1;
      }
      pending_ = false;
      next_ = {};
    }
  }

  // The open slot shows the undamaged picture of its own frame: every
  // picture the received decoder gave before it must have had its slot.
  void show_identical() {
    if (!player_.place_identical()) throw NeedsFullDecode{};
    got_.clear();
    add_slot(next_.frame, true, identical_);
    if (yuv_) {
      shown_ = std::move(next_.picture);
      yuv_->write(shown_.get());
    } else {
      shown_.reset();
      shown_frame_ = next_.frame;
    }
  }

  // The reference's picture of frame f, from a known stretch, decoded from
  // the stretch's start: a slot frozen on it needs its samples.
  FramePtr reference_picture(int32_t f) {
    int32_t begin = 0;
    for (const Stretch& s : plan_)
      if (s.begin <= f) begin = s.begin;
    VideoReader reader(video_, fps_);
    Decoder decoder(video_, reader.stream(), one_thread_);
    FramePtr found;
    auto keep = [&](FramePtr p, int32_t from) {
      if (from == f && !found) found = std::move(p);
    };
    for (VideoFrame frame; !found && reader.next(frame);)
      if (frame.frame >= begin) {
        ++decoded_;
        decoder.send(reader.packet(), frame.frame, keep);
      }
    if (!found) decoder.send(nullptr, -1, keep);
    if (!found) throw NeedsFullDecode{};
    return found;
  }

  const bool resets_trusted_;
  const bool one_thread_;
  const std::optional<double> fps_;
  ReferenceCache* const cache_;  // the sweep's, or none
  VideoReader reader_;
  const std::vector<Stretch> plan_;
  std::vector<bool> known_;       // by frame: in a known stretch
  std::vector<bool> queued_;      // by stretch: its slots queued
  std::optional<Decoder> truth_;  // --yuv: the reference, whole
  int64_t fed_ = 0;               // packets truth_ was given
  // Else the reference over the damaged stretches, here or on a thread.
  std::optional<RegionTruth> inline_truth_;
  std::unique_ptr<TruthWorker> worker_;
  int64_t opened_ = -1, completed_ = -1;  // the last damaged stretch begun, and given whole
  std::optional<Region> region_;
  std::deque<Truth> truth_q_;  // the slots to come, in order
  Truth next_;                 // the open slot's
  bool pending_ = false;       // next_ is open
  int32_t shown_frame_ = -1;   // shown_ is this frame's reference picture, not decoded
  bool all_done_ = false;
  int64_t decoded_ = 0;
  SlotFigures identical_;
};

// The stretches to decode; none where the stream's pixel format is one
// the figures do not take (the full decode says so). lag: the decoder's
// (Decoder::lag()).
std::vector<Stretch> plan_for(RunState& run, const ReceiveOptions& options,
                              const std::string& video, const std::vector<Judged>& judged,
                              bool resets_trusted, bool yuv, int* lag) {
  VideoReader probe(video, options.fps);
  if (!measurable_format(probe.stream()->codecpar->format)) return {};
  std::vector<PlanFrame> frames;
  frames.reserve(judged.size());
  // The times order the known stretches' slots: each frame needs one of
  // its own (with --yuv the reference's decode gives the order).
  std::vector<int64_t> times;
  for (const Judged& j : judged) times.push_back(j.frame.pts);
  std::sort(times.begin(), times.end());
  for (const Judged& j : judged) {
    auto same = std::equal_range(times.begin(), times.end(), j.frame.pts);
    bool ordered = yuv || (j.frame.pts != INT64_MIN && same.second - same.first == 1);
    frames.push_back(
        {j.frame.resets && resets_trusted, j.verdict.status == ReceiveStatus::kReceived, ordered});
  }
  *lag = Decoder(video, probe.stream(), run.one_thread).lag();
  return plan_stretches(frames, *lag + 1, concealment_reaches_back(probe.stream()->codecpar));
}

}  // namespace

QualitySummary measure(RunState& run, const ReceiveOptions& options, const std::string& video,
                       const std::vector<Judged>& judged, bool resets_trusted,
                       std::vector<SlotResult>& slots) {
  std::unique_ptr<Y4mWriter> yuv;
  if (!options.yuv.empty()) {
    AVRational rate = VideoReader(video, options.fps).stream()->avg_frame_rate;
    yuv = std::make_unique<Y4mWriter>(run, options.yuv, rate.num, rate.den);
  }
  QualitySummary quality;
  if (!options.full_decode && options.reference.empty() && (!yuv || yuv->can_rewind())) {
    int lag = 0;
    std::vector<Stretch> plan =
        plan_for(run, options, video, judged, resets_trusted, yuv != nullptr, &lag);
    // Everything damaged: the full decode, on its two threads, unless a
    // sweep's cache holds the reference.
    bool worth = !plan.empty() && (options.cache || !(plan.size() == 1 && plan[0].decode));
    if (worth) {
      try {
        quality = StretchMeasurer(run, options, video, judged, slots, yuv.get(), plan, lag,
                                  resets_trusted)
                      .run();
        if (yuv) yuv->close();
        return quality;
      } catch (const NeedsFullDecode&) {
        slots.assign(slots.size(), SlotResult{});
        if (yuv) yuv->rewind();
      }
    }
  }
  quality = FullMeasurer(run, options, video, judged, slots, yuv.get()).run();
  if (yuv) yuv->close();
  return quality;
}
