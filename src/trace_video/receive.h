// trace_video receive: what the receiver got of each video frame, by the
// traces, and the video it got. The rules are plain functions over plain
// records (FrameJudge); the run around them reads the files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trace_io/run_state.h"
#include "trace_io/table_output.h"
#include "trace_io/trace_frames.h"
#include "trace_video/video_frames.h"

enum class ReceiveStatus { kUnsent, kLost, kPartial, kLate, kReceived };
const char* status_name(ReceiveStatus status);

// What became of one video frame.
struct FrameVerdict {
  ReceiveStatus status = ReceiveStatus::kUnsent;
  bool decodable = false;
  std::optional<double> deadline_s;  // with a play-out delay
};

// The summary figures, in their output order.
struct ReceiveSummary {
  int64_t video_frames = 0, frames_received = 0, frames_lost = 0, frames_partial = 0,
          frames_late = 0, frames_unsent = 0, frames_unknown = 0, decodable_frames = 0;
  int64_t frames[3] = {0, 0, 0}, received[3] = {0, 0, 0}, decodable[3] = {0, 0, 0};  // I, P, B
};
// Names and values of the summary, in order (CSV columns, JSON keys).
const std::vector<std::string>& summary_names();
std::vector<Field> summary_fields(const ReceiveSummary& summary);

// Judges the frames of a video one after the other in decode order, by
// the traces' frame table: each frame's status from its trace row, and
// whether it can be decoded by the frame-type model (an I frame when
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

struct ReceiveOptions {
  std::optional<double> playout_delay;
  std::string out;     // --out: the received video
  std::string frames;  // --frames: the per-frame table
  bool csv = false, json = false;
  std::optional<double> fps;
  bool decode = true;     // the quality figures (--no-decode: without them)
  std::string reference;  // --reference: else VIDEO decoded
  std::string yuv;        // --yuv: the displayed frames as YUV4MPEG2
};

// A run's summary: its keys and values, in output order.
struct ReceiveResult {
  std::vector<std::string> names;
  std::vector<Field> fields;
};
// The keys of a summary, with the quality figures or without.
std::vector<std::string> result_names(bool decode);

// Judges every frame of video by the four traces; writes --out and
// --frames when asked; unless --no-decode, decodes what was received and
// measures it against the reference slot by slot (quality.h). Notes go to
// standard error. Fails with the first problem's message.
ReceiveResult run_receive(RunState& run, const ReceiveOptions& options, const std::string& video,
                          const std::string (&traces)[4]);
// The summary as aligned text, a CSV header and row, or a JSON object.
std::string format_summary(const ReceiveResult& result, bool csv, bool json);
