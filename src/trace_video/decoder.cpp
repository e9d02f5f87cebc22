// Decoding as FFmpeg's demuxing_decoding example does it: send a packet,
// receive every frame it gives.

#include "trace_video/decoder.h"

#include <system_error>

Decoder::Decoder(const std::string& path, const AVStream* stream, bool one_thread) : path_(path) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) fail(path + ": cannot decode: no decoder for this codec");
  codec_.reset(allocated(avcodec_alloc_context3(codec)));
  frame_.reset(allocated(av_frame_alloc()));
  int error = avcodec_parameters_to_context(codec_.get(), stream->codecpar);
  if (error < 0) fail(path + ": cannot decode: " + av_reason(error));
  codec_->pkt_timebase = stream->time_base;
  if (one_thread) codec_->thread_count = 1;
  error = avcodec_open2(codec_.get(), codec, nullptr);
  if (error < 0) fail(path + ": cannot decode: " + av_reason(error));
}

void Decoder::send(AVPacket* packet, int32_t frame,
                   const std::function<void(FramePtr, int32_t)>& got) {
  if (packet != nullptr) packet->pts = packet->dts = frame;
  int error = avcodec_send_packet(codec_.get(), packet);
  // A packet the decoder refuses is concealed as the library does: the
  // figures show what a player would.
  if (error < 0 && error != AVERROR(EAGAIN) && error != AVERROR_EOF && error != AVERROR_INVALIDDATA)
    fail(path_ + ": cannot decode: " + av_reason(error));
  for (;;) {
    error = avcodec_receive_frame(codec_.get(), frame_.get());
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return;
    if (error < 0) fail(path_ + ": cannot decode: " + av_reason(error));
    FramePtr picture(allocated(av_frame_alloc()));
    av_frame_move_ref(picture.get(), frame_.get());
    int64_t from = picture->pts;
    got(std::move(picture), from >= 0 && from <= INT32_MAX ? static_cast<int32_t>(from) : -1);
  }
}

int Decoder::lag() const {
  bool frame_threads = codec_->active_thread_type & FF_THREAD_FRAME;
  return 16 + 1 + (frame_threads ? codec_->thread_count : 0);
}

FrameSource::FrameSource(const std::string& path, bool one_thread, std::optional<int32_t> frames)
    : reader_(path, std::nullopt), decoder_(path, reader_.stream(), one_thread), frames_(frames) {
  if (one_thread) return;
  try {
    thread_ = std::thread(&FrameSource::produce, this);
  } catch (const std::system_error&) {
    // No thread to spare: decoded on the caller's thread as it asks.
  }
}

FrameSource::~FrameSource() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool FrameSource::decode_packet(std::deque<Decoded>& into) {
  auto keep = [&](FramePtr picture, int32_t from) {
    into.push_back({std::move(picture), from, fed_});
  };
  VideoFrame frame;
  if (reader_.next(frame)) {
    if (frames_ && frame.frame >= *frames_)
      fail(reader_.path() + ": the file changed while it was being read");
    ++fed_;
    decoder_.send(reader_.packet(), frame.frame, keep);
    return false;
  }
  if (frames_ && fed_ != *frames_)
    fail(reader_.path() + ": the file changed while it was being read");
  ++fed_;  // the end: every picture left comes out
  decoder_.send(nullptr, -1, keep);
  return true;
}

void FrameSource::produce() {
  for (bool end = false; !end;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || queue_.size() < kAhead; });
      if (stop_) return;
    }
    // The reader and decoder are this thread's alone; what they give is
    // handed over under the lock.
    std::deque<Decoded> frames;
    bool ended = false;
    std::optional<RunFailure> failure = failure_of([&] { ended = decode_packet(frames); });
    std::lock_guard<std::mutex> lock(mutex_);
    for (Decoded& d : frames) queue_.push_back(std::move(d));
    if (failure) failure_ = failure;
    end = ended || failure.has_value();
    done_ = end;
    changed_.notify_all();
  }
}

Decoded FrameSource::next() {
  if (!thread_.joinable()) {
    while (queue_.empty() && !done_) done_ = decode_packet(queue_);
  } else {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !queue_.empty() || done_; });
    if (queue_.empty() && failure_) throw *failure_;
    if (queue_.empty()) return {};
    Decoded d = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return d;
  }
  if (queue_.empty()) return {};
  Decoded d = std::move(queue_.front());
  queue_.pop_front();
  return d;
}
