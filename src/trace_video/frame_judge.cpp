// Judging frames by the traces.

#include "trace_video/frame_judge.h"

#include <algorithm>
#include <cmath>

namespace {

// The three type classes of the figures. A ? frame counts as I when it is a
// key frame (every frame of an intra-only codec, which no parser types),
// else as P.
int type_class(const VideoFrame& f) {
  if (f.type == FrameType::kI || (f.type == FrameType::kUnknown && f.key)) return 0;
  return f.type == FrameType::kB ? 2 : 1;
}

}  // namespace

const char* status_name(ReceiveStatus status) {
  switch (status) {
    case ReceiveStatus::kUnsent:
      return "unsent";
    case ReceiveStatus::kLost:
      return "lost";
    case ReceiveStatus::kPartial:
      return "partial";
    case ReceiveStatus::kLate:
      return "late";
    case ReceiveStatus::kReceived:
      return "received";
  }
  return "";
}

FrameJudge::FrameJudge(const std::vector<FrameRow>& rows, std::optional<double> playout_delay,
                       double first_arrival)
    : rows_(rows), playout_delay_(playout_delay), first_arrival_(first_arrival) {
  sent_end_ = rows.size();
  while (sent_end_ > 0 && rows[sent_end_ - 1].status == FrameStatus::kUnexpected) --sent_end_;
  unexpected_at_ = sent_end_;
}

const FrameRow* FrameJudge::find(int32_t frame) {
  // Both parts of the table are in frame order, and frames are asked in
  // order: two cursors find every row in one pass.
  while (sent_at_ < sent_end_ && rows_[sent_at_].frame < frame) ++sent_at_;
  if (sent_at_ < sent_end_ && rows_[sent_at_].frame == frame) return &rows_[sent_at_++];
  while (unexpected_at_ < rows_.size() && rows_[unexpected_at_].frame < frame) ++unexpected_at_;
  if (unexpected_at_ < rows_.size() && rows_[unexpected_at_].frame == frame)
    return &rows_[unexpected_at_++];
  return nullptr;
}

FrameVerdict FrameJudge::judge(const VideoFrame& frame) {
  ++next_;
  row_ = find(frame.frame);
  if (row_ != nullptr) ++matched_;
  FrameVerdict v;
  if (playout_delay_) v.deadline_s = first_arrival_ + *playout_delay_ + frame.offset_s;
  if (row_ == nullptr || row_->status == FrameStatus::kUnexpected)
    v.status = ReceiveStatus::kUnsent;
  else if (row_->recv_packets == 0)
    v.status = ReceiveStatus::kLost;
  else if (row_->recv_packets < row_->sent_packets)
    v.status = ReceiveStatus::kPartial;
  else if (v.deadline_s && !std::isfinite(row_->last_recv))
    v.status = ReceiveStatus::kLate, v.untimed = true;  // no deadline can be met by it
  else if (v.deadline_s && row_->last_recv > *v.deadline_s)
    v.status = ReceiveStatus::kLate;
  else
    v.status = ReceiveStatus::kReceived;
  bool received = v.status == ReceiveStatus::kReceived;
  int t = type_class(frame);
  if (t == 0) {
    v.decodable = received;
  } else if (t == 1) {
    v.decodable = received && refs_ >= 1 && last_ref_;
  } else {
    v.decodable = received && refs_ >= 1 && last_ref_ && (refs_ == 1 || ref_before_);
  }
  if (t != 2) {
    ref_before_ = last_ref_;
    last_ref_ = v.decodable;
    ++refs_;
  }
  ReceiveSummary& s = summary_;
  ++s.video_frames;
  s.frames_received += received;
  s.frames_lost += v.status == ReceiveStatus::kLost;
  s.frames_partial += v.status == ReceiveStatus::kPartial;
  s.frames_late += v.status == ReceiveStatus::kLate;
  if (v.untimed && s.untimed_arrivals++ == 0) s.first_untimed = frame.frame;
  s.frames_unsent += v.status == ReceiveStatus::kUnsent;
  s.decodable_frames += v.decodable;
  ++s.frames[t];
  s.received[t] += received;
  s.decodable[t] += v.decodable;
  return v;
}

ReceiveSummary FrameJudge::finish(std::vector<int32_t>* unknown, size_t named) {
  summary_.frames_unknown = static_cast<int64_t>(rows_.size() - matched_);
  if (unknown != nullptr) {
    unknown->clear();
    for (const FrameRow& r : rows_)
      if (r.frame < 0 || r.frame >= next_) unknown->push_back(r.frame);
    std::sort(unknown->begin(), unknown->end());
    if (unknown->size() > named) unknown->resize(named);
  }
  return summary_;
}
