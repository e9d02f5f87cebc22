// The part of trace_video that touches FFmpeg's libraries: reading the
// first video stream of a file packet by packet (with each packet's
// picture type from the codec's parser), and writing chosen packets into
// another container without re-encoding. Every library failure becomes a
// RunFailure naming the file and the library's reason.
#pragma once

#include <sys/stat.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "trace_io/run_state.h"
#include "trace_video/av_owners.h"
#include "trace_video/random_access.h"
#include "trace_video/video_frames.h"

// A video file as an input of the run: noted, so that no output is it, and
// stamped, so that a file replaced or changed between the passes over it
// is found instead of mixing two videos.
class VideoInput {
 public:
  // Notes path. read_again: the run reads it more than once, which a pipe,
  // a FIFO or a device cannot give; refused then.
  VideoInput(RunState& run, const std::string& path, bool read_again);
  // Fails ("PATH: the file changed while it was being read") when path no
  // longer names the file as stamped.
  void check() const;

 private:
  std::string path_;
  bool regular_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  off_t size_ = 0;
  struct timespec mtime_ {
  }, ctime_{};
};

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
  // True when the stream has timestamps (the offsets come from the decode
  // times, derived from the presentation times where the container gives
  // none for the first packets, as Matroska does with B-frames).
  bool timed() const { return timed_; }
  const std::string& path() const { return path_; }
  // False when the frames' `resets` cannot be trusted (random_access.h):
  // known once the last frame was read.
  bool resets_trusted() const { return resets_->trusted(); }

 private:
  FrameType parse_type();
  // The stream's next packet into `into`; false at the end.
  bool read_packet(AVPacket* into);
  // Reads ahead the first packets when they have no decode time, and gives
  // them the ones the presentation times imply.
  void lead_in();
  // A timestamp in the stream's time base, in seconds.
  double seconds(int64_t ticks) const;
  std::string path_;
  DemuxerPtr format_;
  AVStream* stream_ = nullptr;
  PacketPtr packet_;
  std::deque<PacketPtr> ahead_;  // read by lead_in(), not yet given out
  CodecPtr codec_;               // for the parser: the stream's extradata
  ParserPtr parser_;
  std::optional<ResetFinder> resets_;
  bool timed_ = false;
  double seconds_per_frame_ = 0;  // without timestamps
  int64_t first_dts_ = 0;
  int32_t count_ = 0;
};

// Packets of one video stream written into a new file, the container the
// file's name asks for (.mp4, .mkv, .264 ...), without re-encoding.
class Remuxer {
 public:
  // Creates path, an output of the run (refused when it is an input,
  // another output, a FIFO or a socket), for the packets of `input`, the
  // stream of the file `source`.
  Remuxer(RunState& run, const std::string& path, const AVStream* input, const std::string& source);
  // Writes a copy of the packet of frame `frame` (timestamps in input's
  // time base).
  void write(const AVPacket* packet, int32_t frame);
  // Writes the trailer and closes the file; fails on error.
  void finish();

 private:
  [[noreturn]] void fail_with(const char* what, int error) const;
  std::string path_, source_;
  MuxerPtr format_;
  AVStream* stream_ = nullptr;
  PacketPtr copy_;
  int in_num_ = 0, in_den_ = 1;  // the input's time base
  int64_t last_dts_ = AV_NOPTS_VALUE;
};

// The library's reason for an error code.
std::string av_reason(int error);
