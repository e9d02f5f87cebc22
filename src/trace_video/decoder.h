// Decoding with libavcodec: a decoder for one stream, and a file's frames
// decoded ahead on a thread of their own. Frames are AVFrames with one
// owner each (FramePtr).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "trace_io/failure.h"
#include "trace_video/av_owners.h"
#include "trace_video/video_file.h"

// A decoder for one stream, with the library's own error concealment.
class Decoder {
 public:
  // one_thread: a decoder thread of its own, none other (what `ffmpeg
  // -threads 1` decodes); else the library's choice. Fails naming path.
  Decoder(const std::string& path, const AVStream* stream, bool one_thread);
  // Decodes packet (null: the end of the stream) and hands over each frame
  // it gives, with its timestamp in the stream's time base.
  void send(const AVPacket* packet, const std::function<void(FramePtr, int64_t pts)>& got);

 private:
  std::string path_;
  CodecPtr codec_;
  FramePtr frame_;
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
  std::optional<RunFailure> failure_;  // the thread's, handed to next()
  std::thread thread_;  // not joinable: decoded on the caller's thread
};
