// Decoding with libavcodec and writing pictures as YUV4MPEG2: the part of
// the quality figures that touches FFmpeg's libraries. Frames are AVFrames
// with one owner each (FramePtr).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "trace_io/files.h"
#include "trace_video/quality.h"

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
