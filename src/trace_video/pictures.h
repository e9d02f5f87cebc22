// Decoded pictures as the figures read them, and written slot by slot as
// YUV4MPEG2.
#pragma once

#include <string>

#include "trace_io/files.h"
#include "trace_io/run_state.h"
#include "trace_video/av_owners.h"
#include "trace_video/quality.h"

// The planes of an 8-bit planar YUV frame (4:2:0, 4:2:2 or 4:4:4); fails
// naming path for any other pixel format.
Picture picture_of(const AVFrame* frame, const std::string& path);
// Whether picture_of takes frames of this pixel format.
bool measurable_format(int format);
// A copy of frame in buffers of its own, outside any decoder's pool: what
// another thread may keep and free on its own.
FramePtr copy_of(const AVFrame* frame);
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
  // Starts the file again, empty: only where it is a regular file.
  bool can_rewind() const { return out_.is_regular(); }
  void rewind() {
    out_.rewind();
    header_ = false;
  }

 private:
  OutFile out_;
  int rate_num_, rate_den_;
  bool header_ = false;
};
