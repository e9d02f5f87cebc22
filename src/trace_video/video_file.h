// The part of trace_video that touches FFmpeg's libraries: reading the
// first video stream of a file packet by packet (with each packet's
// picture type from the codec's parser), and writing chosen packets into
// another container without re-encoding. Every library failure becomes a
// RunFailure naming the file and the library's reason.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "trace_io/run_state.h"
#include "trace_video/av_owners.h"
#include "trace_video/video_frames.h"

// The first video stream of a file, read packet by packet.
class VideoReader {
 public:
  // Opens path; fails ("PATH: cannot open: REASON", "PATH: no video
  // stream"). fps, when given, is the frame rate of a stream without
  // timestamps (raw Annex B), which otherwise comes from the stream.
  VideoReader(const std::string& path, std::optional<double> fps);

  // The next frame; false at the end of the stream. Fails on a read error.
  bool next(VideoFrame& frame);
  // The packet of the frame next() gave last, as the demuxer gave it.
  AVPacket* packet() const { return packet_.get(); }
  const AVStream* stream() const { return stream_; }
  // True when the stream has decode timestamps (the offsets come from them).
  bool timed() const { return timed_; }
  const std::string& path() const { return path_; }

 private:
  FrameType parse_type();
  // A timestamp in the stream's time base, in seconds.
  double seconds(int64_t ticks) const;
  std::string path_;
  DemuxerPtr format_;
  AVStream* stream_ = nullptr;
  PacketPtr packet_;
  CodecPtr codec_;  // for the parser: the stream's extradata
  ParserPtr parser_;
  bool timed_ = false;
  double seconds_per_frame_ = 0;  // without timestamps
  int64_t first_dts_ = 0;
  int32_t count_ = 0;
};

// Packets of one video stream written into a new file, the container the
// file's name asks for (.mp4, .mkv, .264 ...), without re-encoding.
class Remuxer {
 public:
  // Creates path, an output of the run (refused when it is an input or
  // another output).
  Remuxer(RunState& run, const std::string& path, const AVStream* input);
  // Writes a copy of the packet (timestamps in input's time base).
  void write(const AVPacket* packet);
  // Writes the trailer and closes the file; fails on error.
  void finish();

 private:
  [[noreturn]] void fail_with(const char* what, int error) const;
  std::string path_;
  MuxerPtr format_;
  AVStream* stream_ = nullptr;
  PacketPtr copy_;
  int in_num_ = 0, in_den_ = 1;  // the input's time base
};

// The library's reason for an error code.
std::string av_reason(int error);
