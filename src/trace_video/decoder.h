// Decoding with libavcodec: a decoder for one stream, and a file's frames
// decoded ahead on a thread of their own. Frames are AVFrames with one
// owner each (FramePtr).
//
// Every picture is known by the packet it came from: a packet goes to the
// decoder with its frame number as its timestamps, and libavcodec carries
// a packet's timestamp through its reordering to the picture the packet
// starts. No timestamp of the stream, nor the decoder's guess of one, is
// trusted to tell pictures apart.
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
  // Decodes packet, frame `frame` of the stream (null: the end of the
  // stream), and hands over each picture it gives with the frame number of
  // the packet the picture came from (-1: none known). Overwrites the
  // packet's timestamps.
  void send(AVPacket* packet, int32_t frame, const std::function<void(FramePtr, int32_t)>& got);
  // Frames a picture can come out after its packet went in, at most: the
  // reordering of any codec (16) and one for each frame thread.
  int lag() const;

 private:
  std::string path_;
  CodecPtr codec_;
  FramePtr frame_;
};

// A decoded picture, the frame number of its packet (-1: none known) and
// the packets that had gone to the decoder when it came out.
struct Decoded {
  FramePtr picture;
  int32_t frame = -1;
  int64_t fed = 0;
};

// The decoded frames of a file's first video stream, in output order:
// decoded ahead on a thread of its own, at most kAhead frames ahead, unless
// one_thread. Each frame is handed out once.
class FrameSource {
 public:
  static constexpr size_t kAhead = 4;
  // frames: how many packets the stream has, when known; a stream found
  // with another number has changed since it was counted.
  FrameSource(const std::string& path, bool one_thread, std::optional<int32_t> frames = {});
  ~FrameSource();  // stops the thread
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;
  // The next picture; a null one at the end. Fails as the decoding failed.
  Decoded next();
  int lag() const { return decoder_.lag(); }

 private:
  // Decodes the next packet's pictures into `into`; true at the end.
  bool decode_packet(std::deque<Decoded>& into);
  void produce();  // the decoding thread
  VideoReader reader_;
  Decoder decoder_;
  std::optional<int32_t> frames_;
  int64_t fed_ = 0;   // the decoding thread's
  std::mutex mutex_;  // guards what follows, while the thread runs
  std::condition_variable changed_;
  std::deque<Decoded> queue_;
  bool done_ = false, stop_ = false;
  std::optional<RunFailure> failure_;  // the thread's, handed to next()
  std::thread thread_;                 // not joinable: decoded on the caller's thread
};
