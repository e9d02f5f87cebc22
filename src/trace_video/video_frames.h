// What trace_video knows of a video's frames, as plain records: the
// codec-independent logic (packets, statuses, decodability) works on these,
// so tables of cases drive it without a video file.
#pragma once

#include <cstdint>
#include <optional>

// The picture type of a frame as the codec's parser reports it; kUnknown
// where it says nothing.
enum class FrameType : char { kI = 'I', kP = 'P', kB = 'B', kUnknown = '?' };

// Frame f of a video: the f-th packet of its first video stream, in the
// order the demuxer gives them (decode order).
struct VideoFrame {
  int32_t frame = 0;
  FrameType type = FrameType::kUnknown;
  bool key = false;
  bool resets = false;          // a random-access point that resets the decoder (random_access.h)
  int32_t size = 0;             // bytes of the packet
  std::optional<double> pts_s;  // presentation time, when the stream has one
  int64_t pts = INT64_MIN;      // the same in the stream's time base
  std::optional<double> dts_s;  // decode time, when the stream has one
  double offset_s = 0;          // dts_f - dts_0, or f / fps without timestamps
};
