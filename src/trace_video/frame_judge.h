// The rules of trace_video receive: what became of each video frame by
// the traces (its status) and whether it can be decoded, as plain
// functions over plain records, so that tables of cases drive them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "trace_io/trace_frames.h"
#include "trace_video/video_frames.h"

enum class ReceiveStatus { kUnsent, kLost, kPartial, kLate, kReceived };
const char* status_name(ReceiveStatus status);

// What became of one video frame.
struct FrameVerdict {
  ReceiveStatus status = ReceiveStatus::kUnsent;
  bool decodable = false;
  std::optional<double> deadline_s;  // with a play-out delay
  bool untimed = false;              // late for an arrival time that is no number
};

// The summary figures, in their output order.
struct ReceiveSummary {
  int64_t video_frames = 0, frames_received = 0, frames_lost = 0, frames_partial = 0,
          frames_late = 0, frames_unsent = 0, frames_unknown = 0, decodable_frames = 0;
  int64_t frames[3] = {0, 0, 0}, received[3] = {0, 0, 0}, decodable[3] = {0, 0, 0};  // I, P, B
  // Frames whose last arrival time is nan or infinite, under a play-out
  // delay: counted late, and noted.
  int64_t untimed_arrivals = 0;
  int32_t first_untimed = -1;
};

// Judges the frames of a video one after the other in decode order, by
// the traces' frame table: each frame's status from its trace row, and
// whether it can be decoded by the frame-type model (an I frame, or a key
// frame of unknown type, when
// received; a P or ? frame when received and the most recent I or P frame
// before it is decodable; a B frame when received and the two most recent
// I or P frames before it are, or the one where only one exists).
class FrameJudge {
 public:
  // rows: frame_table() of the traces. playout_delay: a frame is late when
  // its last packet arrives after first_arrival + delay + its offset.
  FrameJudge(const std::vector<FrameRow>& rows, std::optional<double> playout_delay,
             double first_arrival);
  // The verdict on the next frame; frames come in order 0, 1, 2 ...
  // REQUIRES: frame.frame is one more than the last one judged.
  FrameVerdict judge(const VideoFrame& frame);
  // The trace row of the frame judged last, null when the traces name it not.
  const FrameRow* row() const { return row_; }
  // After the last frame: the summary, the frames the traces name that the
  // video does not have (up to `named` of them in *unknown).
  ReceiveSummary finish(std::vector<int32_t>* unknown, size_t named);

 private:
  const FrameRow* find(int32_t frame);
  const std::vector<FrameRow>& rows_;
  std::optional<double> playout_delay_;
  double first_arrival_;
  size_t sent_end_ = 0;                     // rows [0, sent_end_) were sent, the rest unexpected
  size_t sent_at_ = 0, unexpected_at_ = 0;  // cursors, both in frame order
  size_t matched_ = 0;
  const FrameRow* row_ = nullptr;
  // The decodability of the most recent I or P frames, and their number.
  bool last_ref_ = false, ref_before_ = false;
  int64_t refs_ = 0;
  int32_t next_ = 0;
  ReceiveSummary summary_;
};
