// Decoding as FFmpeg's demuxing_decoding example does it: send a packet,
// receive every frame it gives.

#include "trace_video/decode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <new>
#include <system_error>

#include "trace_io/failure.h"
#include "trace_video/video_file.h"

void FrameFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }

Decoder::Decoder(const std::string& path, const AVStream* stream, bool one_thread) : path_(path) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) fail(path + ": cannot decode: no decoder for this codec");
  codec_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  if (codec_ == nullptr || frame_ == nullptr) throw std::bad_alloc();
  int error = avcodec_parameters_to_context(codec_, stream->codecpar);
  if (error < 0) fail(path + ": cannot decode: " + av_reason(error));
  codec_->pkt_timebase = stream->time_base;
  if (one_thread) codec_->thread_count = 1;
  error = avcodec_open2(codec_, codec, nullptr);
  if (error < 0) fail(path + ": cannot decode: " + av_reason(error));
}

Decoder::~Decoder() {
  av_frame_free(&frame_);
  avcodec_free_context(&codec_);
}

void Decoder::send(const AVPacket* packet, const std::function<void(FramePtr, int64_t)>& got) {
  int error = avcodec_send_packet(codec_, packet);
  // A packet the decoder refuses is concealed as the library does: the
  // figures show what a player would.
  if (error < 0 && error != AVERROR(EAGAIN) && error != AVERROR_EOF && error != AVERROR_INVALIDDATA)
    fail(path_ + ": cannot decode: " + av_reason(error));
  for (;;) {
    error = avcodec_receive_frame(codec_, frame_);
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return;
    if (error < 0) fail(path_ + ": cannot decode: " + av_reason(error));
    FramePtr frame(av_frame_alloc());
    if (!frame) throw std::bad_alloc();
    av_frame_move_ref(frame.get(), frame_);
    int64_t pts = frame->best_effort_timestamp;
    got(std::move(frame), pts);
  }
}

FrameSource::FrameSource(const std::string& path, bool one_thread)
    : reader_(path, std::nullopt), decoder_(path, reader_.stream(), one_thread) {
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

bool FrameSource::decode_packet(std::deque<FramePtr>& into) {
  auto keep = [&](FramePtr frame, int64_t) { into.push_back(std::move(frame)); };
  VideoFrame frame;
  if (reader_.next(frame)) {
    decoder_.send(reader_.packet(), keep);
    return false;
  }
  decoder_.send(nullptr, keep);
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
    std::deque<FramePtr> frames;
    bool ended = false;
    std::optional<RunFailure> failure =
        failure_of("trace_video", [&] { ended = decode_packet(frames); });
    std::lock_guard<std::mutex> lock(mutex_);
    for (FramePtr& f : frames) queue_.push_back(std::move(f));
    if (failure) failure_ = failure;
    end = ended || failure.has_value();
    done_ = end;
    changed_.notify_all();
  }
}

FramePtr FrameSource::next() {
  if (!thread_.joinable()) {
    while (queue_.empty() && !done_) done_ = decode_packet(queue_);
  } else {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !queue_.empty() || done_; });
    if (queue_.empty() && failure_) throw *failure_;
    if (queue_.empty()) return nullptr;
    FramePtr frame = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return frame;
  }
  if (queue_.empty()) return nullptr;
  FramePtr frame = std::move(queue_.front());
  queue_.pop_front();
  return frame;
}

namespace {

// The formats the figures read, with their YUV4MPEG2 colour-space tags.
struct Format {
  AVPixelFormat format;
  const char* y4m;
};
constexpr Format kFormats[] = {
    {AV_PIX_FMT_YUV420P, "420jpeg"}, {AV_PIX_FMT_YUVJ420P, "420jpeg"}, {AV_PIX_FMT_YUV422P, "422"},
    {AV_PIX_FMT_YUVJ422P, "422"},    {AV_PIX_FMT_YUV444P, "444"},      {AV_PIX_FMT_YUVJ444P, "444"},
};

const Format* format_of(const AVFrame* frame) {
  for (const Format& f : kFormats)
    if (f.format == frame->format) return &f;
  return nullptr;
}

// Plane c's width and height.
void plane_size(const AVFrame* frame, int c, int* w, int* h) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  *w = c == 0 ? frame->width : AV_CEIL_RSHIFT(frame->width, d->log2_chroma_w);
  *h = c == 0 ? frame->height : AV_CEIL_RSHIFT(frame->height, d->log2_chroma_h);
}

}  // namespace

std::string frame_shape(const AVFrame* frame) {
  const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
  return std::to_string(frame->width) + "x" + std::to_string(frame->height) + " " +
         (name != nullptr ? name : "unknown");
}

bool same_shape(const AVFrame* a, const AVFrame* b) {
  return a->width == b->width && a->height == b->height && a->format == b->format;
}

Picture picture_of(const AVFrame* frame, const std::string& path) {
  if (format_of(frame) == nullptr)
    fail(path + ": pixel format " + frame_shape(frame) +
         ": the quality figures take 8-bit planar YUV (4:2:0, 4:2:2, 4:4:4); give --no-decode");
  Picture p;
  for (int c = 0; c < 3; ++c) {
    p.planes[c].data = frame->data[c];
    p.planes[c].stride = frame->linesize[c];
    plane_size(frame, c, &p.planes[c].width, &p.planes[c].height);
  }
  return p;
}

FramePtr gray_like(const AVFrame* like) {
  FramePtr gray(av_frame_alloc());
  if (!gray) throw std::bad_alloc();
  gray->format = like->format;
  gray->width = like->width;
  gray->height = like->height;
  if (av_frame_get_buffer(gray.get(), 0) < 0) throw std::bad_alloc();
  for (int c = 0; c < 3; ++c) {
    int w, h;
    plane_size(like, c, &w, &h);
    for (int y = 0; y < h; ++y) std::memset(gray->data[c] + y * gray->linesize[c], 128, w);
  }
  gray->pts = like->pts;
  return gray;
}

Y4mWriter::Y4mWriter(RunState& run, const std::string& path, int rate_num, int rate_den)
    : rate_num_(rate_num > 0 ? rate_num : 25),
      rate_den_(rate_num > 0 && rate_den > 0 ? rate_den : 1) {
  out_.create(run, path.c_str());
}

void Y4mWriter::put(const uint8_t* data, size_t n) {
  for (size_t at = 0; at < n; at += OutFile::kMaxLine) {
    size_t take = std::min(n - at, OutFile::kMaxLine);
    char* p = out_.reserve();
    std::memcpy(p, data + at, take);
    out_.commit(p + take);
  }
}

void Y4mWriter::write(const AVFrame* frame) {
  if (!header_) {
    header_ = true;
    AVRational sar = frame->sample_aspect_ratio;
    std::string head = "YUV4MPEG2 W" + std::to_string(frame->width) + " H" +
                       std::to_string(frame->height) + " F" + std::to_string(rate_num_) + ":" +
                       std::to_string(rate_den_) + " Ip A" + std::to_string(sar.num) + ":" +
                       std::to_string(sar.den) + " C" + format_of(frame)->y4m + "\n";
    put(reinterpret_cast<const uint8_t*>(head.data()), head.size());
  }
  put(reinterpret_cast<const uint8_t*>("FRAME\n"), 6);
  for (int c = 0; c < 3; ++c) {
    int w, h;
    plane_size(frame, c, &w, &h);
    for (int y = 0; y < h; ++y)
      put(frame->data[c] + y * frame->linesize[c], static_cast<size_t>(w));
  }
}
