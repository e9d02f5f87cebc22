// Decoding with libavcodec and writing pictures as YUV4MPEG2: the part of
// the quality figures that touches FFmpeg's libraries. Frames are AVFrames
// with one owner each (FramePtr).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_video/quality.h"
#include "trace_video/video_file.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

struct FrameFree {
  void operator()(AVFrame* frame) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// A decoder for one stream, with the library's own error concealment.
class Decoder {
 public:
  // one_thread: a decoder thread of its own, none other (what `ffmpeg
  // -threads 1` decodes); else the library's choice. Fails naming path.
  Decoder(const std::string& path, const AVStream* stream, bool one_thread);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  // Decodes packet (null: the end of the stream) and hands over each frame
  // it gives, with its timestamp in the stream's time base.
  void send(const AVPacket* packet, const std::function<void(FramePtr, int64_t pts)>& got);

 private:
  std::string path_;
  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
};

// The decoded frames of a file's first video stream, in output order:
// decoded ahead on a thread of its own, at most kAhead frames ahead, unless
// one_thread. Each frame is handed out once.
class FrameSource {
 public:
  static constexpr size_t kAhead = 4;
  FrameSource(const std::string& path, bool one_thread);
  ~FrameSource();  // stops the thread
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;
  // The next frame; null at the end. Fails as the decoding failed.
  FramePtr next();

 private:
  // Decodes the next packet's frames into `into`; true at the end.
  bool decode_packet(std::deque<FramePtr>& into);
  void produce();                                  // the decoding thread
  VideoReader reader_;
  Decoder decoder_;
  std::mutex mutex_;  // guards what follows, while the thread runs
  std::condition_variable changed_;
  std::deque<FramePtr> queue_;
  bool done_ = false, stop_ = false;
  std::optional<RunFailure> failure_;
  std::thread thread_;  // not joinable: decoded on the caller's thread
};

// The planes of an 8-bit planar YUV frame (4:2:0, 4:2:2 or 4:4:4); fails
// naming path for any other pixel format.
Picture picture_of(const AVFrame* frame, const std::string& path);
// A mid-gray frame (every sample 128) of the size and format of like.
FramePtr gray_like(const AVFrame* like);
// "W x H FORMAT", for messages.
std::string frame_shape(const AVFrame* frame);
bool same_shape(const AVFrame* a, const AVFrame* b);

// Pictures written slot by slot as YUV4MPEG2 (.y4m).
class Y4mWriter {
 public:
  Y4mWriter(RunState& run, const std::string& path, int rate_num, int rate_den);
  void write(const AVFrame* frame);
  void close() { out_.close(); }

 private:
  void put(const uint8_t* data, size_t n);
  OutFile out_;
  int rate_num_, rate_den_;
  bool header_ = false;
};
