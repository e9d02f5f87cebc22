// Judging a video's frames by the traces, in one pass over the video: each
// packet is judged when it is read, written to --out when its frame was
// received, and its row of --frames written, so memory holds the traces'
// frame table and nothing that grows with the video.

#include "trace_video/receive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <memory>
#include <string_view>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_video/decode.h"
#include "trace_video/quality.h"
#include "trace_video/video_file.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// The three type classes of the figures; a ? frame counts as P.
int type_class(FrameType type) { return type == FrameType::kI ? 0 : type == FrameType::kB ? 2 : 1; }

std::string optional_text(const std::optional<double>& t) { return t ? number_text(*t) : ""; }

// Notes the video as an input of the run.
void note_video(RunState& run, const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;  // the reader says why
  run.note_input(fd, path);
  ::close(fd);
}

constexpr const char* kFramesHeader =
    "frame,type,key,size,pts_s,dts_s,sent_packets,sent_bytes,recv_packets,recv_bytes,arrival_s,"
    "deadline_s,status,decodable";
constexpr const char* kQualityHeader = ",display,frozen,mse_y,psnr_y,psnr_avg,ssim_y,mos";

// A frame as the first pass judged it.
struct Judged {
  VideoFrame frame;
  FrameVerdict verdict;
  const FrameRow* row;
};

// What slot a frame is displayed in, and what the viewer saw there.
struct SlotResult {
  int64_t display = -1;
  bool frozen = false;
  SlotFigures figures;
};

std::string quality_cells(const SlotResult& r) {
  const SlotFigures& f = r.figures;
  return "," + std::to_string(r.display) + "," + (r.frozen ? "1" : "0") + "," +
         number_text(f.mse_y) + "," + number_text(f.psnr_y()) + "," + number_text(f.psnr_avg()) +
         "," + number_text(f.ssim_y) + "," + std::to_string(f.mos());
}

std::string frame_row(const VideoFrame& f, const FrameRow* row, const FrameVerdict& v) {
  FrameRow none;
  const FrameRow& r = row != nullptr ? *row : none;
  return std::to_string(f.frame) + "," + static_cast<char>(f.type) + "," + (f.key ? "1" : "0") +
         "," + std::to_string(f.size) + "," + optional_text(f.pts_s) + "," +
         optional_text(f.dts_s) + "," + std::to_string(r.sent_packets) + "," +
         std::to_string(r.sent_bytes) + "," + std::to_string(r.recv_packets) + "," +
         std::to_string(r.recv_bytes) + "," + (r.recv_packets > 0 ? number_text(r.last_recv) : "") +
         "," + optional_text(v.deadline_s) + "," + status_name(v.status) + "," +
         (v.decodable ? "1" : "0");
}

void put(OutFile& out, const std::string& text) {
  for (size_t at = 0; at < text.size(); at += OutFile::kMaxLine) {
    size_t n = std::min(text.size() - at, OutFile::kMaxLine);
    char* p = out.reserve();
    out.commit(std::copy_n(text.data() + at, n, p));
  }
}

// Decodes what was received and the reference, and measures slot by slot
// in display order (VIDEO's frames by presentation time). The pictures
// held are the decoders' own and a few queued: a fixed number, whatever
// the video's length.
QualitySummary measure(RunState& run, const ReceiveOptions& options, const std::string& video,
                       const std::vector<Judged>& judged, std::vector<SlotResult>& results) {
  size_t n = judged.size();
  std::vector<int32_t> order(n);
  for (size_t f = 0; f < n; ++f) {
    order[f] = static_cast<int32_t>(f);
    if (judged[f].frame.pts == INT64_MIN)
      fail(video + ": frame " + std::to_string(f) +
           " has no presentation timestamp, which the display order needs; give --no-decode");
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return judged[a].frame.pts < judged[b].frame.pts; });
  const std::string& ref_path = options.reference.empty() ? video : options.reference;
  VideoReader received(video, options.fps);
  Decoder got(video, received.stream(), run.one_thread);
  std::unique_ptr<Y4mWriter> yuv;
  if (!options.yuv.empty()) {
    run.claim_output(options.yuv);
    const AVRational rate = received.stream()->avg_frame_rate;
    yuv = std::make_unique<Y4mWriter>(run, options.yuv, rate.num, rate.den);
  }
  // The reference is decoded ahead on a thread of its own (unless the
  // run keeps to one), beside the received stream's decoding here.
  FrameSource reference(ref_path, run.one_thread);
  std::deque<FramePtr> got_queue, ref_queue;
  SlotPlacer placer;
  FramePtr shown;
  size_t slot = 0;
  QualitySummary quality;
  auto pull_reference = [&] {
    if (!ref_queue.empty()) return;
    if (FramePtr frame = reference.next()) ref_queue.push_back(std::move(frame));
  };
  auto advance = [&] {
    for (; slot < n; ++slot) {
      int32_t f = order[slot];
      std::optional<Placement> p =
          placer.place(judged[f].frame.pts, judged[f].verdict.status == ReceiveStatus::kReceived);
      if (!p) return;
      pull_reference();
      if (ref_queue.empty())
        fail(ref_path + ": has " + std::to_string(slot) + " frames, fewer than the video's " +
             std::to_string(n));
      for (int k = 0; k < p->consumed; ++k) {
        if (k + 1 == p->consumed && p->shown == Shown::kDecoded)
          shown = std::move(got_queue.front());
        got_queue.pop_front();
      }
      const AVFrame* truth = ref_queue.front().get();
      if (p->shown == Shown::kGray) shown = gray_like(truth);
      if (!same_shape(shown.get(), truth))
        fail(ref_path + ": frames of " + frame_shape(truth) + ", the video's are " +
             frame_shape(shown.get()) +
             ": the reference must have the video's size and pixel format");
      SlotResult& r = results[f];
      r.display = static_cast<int64_t>(slot);
      r.frozen = p->shown != Shown::kDecoded;
      r.figures = compare_pictures(picture_of(shown.get(), video), picture_of(truth, ref_path));
      quality.add(r.figures, r.frozen);
      if (yuv) yuv->write(shown.get());
      ref_queue.pop_front();
    }
  };
  auto decoded = [&](FramePtr frame, int64_t pts) {
    placer.decoded(pts);
    got_queue.push_back(std::move(frame));
  };
  VideoFrame frame;
  while (received.next(frame)) {
    if (judged[frame.frame].verdict.status == ReceiveStatus::kReceived)
      got.send(received.packet(), decoded);
    advance();
  }
  got.send(nullptr, decoded);
  placer.finished();
  advance();
  pull_reference();
  if (!ref_queue.empty())
    fail(ref_path + ": has more frames than the video's " + std::to_string(n));
  if (yuv) yuv->close();
  return quality;
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

const std::vector<std::string>& summary_names() {
  static const std::vector<std::string> names = {
      "video_frames",  "frames_received", "frames_lost",      "frames_partial",       "frames_late",
      "frames_unsent", "frames_unknown",  "decodable_frames", "decodable_frame_rate", "i_frames",
      "i_received",    "i_decodable",     "p_frames",         "p_received",           "p_decodable",
      "b_frames",      "b_received",      "b_decodable"};
  return names;
}

std::vector<Field> summary_fields(const ReceiveSummary& s) {
  auto n = [](int64_t v) { return Field::number(std::to_string(v)); };
  std::optional<double> rate;
  if (s.video_frames > 0)
    rate = static_cast<double>(s.decodable_frames) / static_cast<double>(s.video_frames);
  std::vector<Field> fields = {
      n(s.video_frames),   n(s.frames_received),  n(s.frames_lost),
      n(s.frames_partial), n(s.frames_late),      n(s.frames_unsent),
      n(s.frames_unknown), n(s.decodable_frames), Field::number(optional_number(rate))};
  for (int t = 0; t < 3; ++t) {
    fields.push_back(n(s.frames[t]));
    fields.push_back(n(s.received[t]));
    fields.push_back(n(s.decodable[t]));
  }
  return fields;
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
  else if (v.deadline_s && row_->last_recv > *v.deadline_s)
    v.status = ReceiveStatus::kLate;
  else
    v.status = ReceiveStatus::kReceived;
  bool received = v.status == ReceiveStatus::kReceived;
  int t = type_class(frame.type);
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

std::vector<std::string> result_names(bool decode) {
  std::vector<std::string> names = summary_names();
  if (decode) names.insert(names.end(), quality_names().begin(), quality_names().end());
  return names;
}

std::string format_summary(const ReceiveResult& r, bool csv, bool json) {
  if (csv) return csv_header(r.names) + csv_row(r.fields);
  if (json) return json_object(r.names, r.fields) + "\n";
  size_t width = 0;
  for (const std::string& n : r.names) width = std::max(width, n.size());
  std::string out;
  for (size_t i = 0; i < r.names.size(); ++i)
    out += r.names[i] + ":" + std::string(width + 2 - r.names[i].size(), ' ') +
           r.fields[i].text.value_or("n/a") + "\n";
  return out;
}

ReceiveResult run_receive(RunState& run, const ReceiveOptions& options, const std::string& video,
                          const std::string (&traces)[4]) {
  std::vector<FrameRow> rows;
  double first_arrival = 0;
  {
    InputFile inputs[4];
    for (int i = 0; i < 4; ++i) inputs[i].open_or_fail(traces[i], run);
    RunPackets packets;
    load_packets(run, packets, inputs);
    rows = frame_table(packets);
    double earliest = std::numeric_limits<double>::infinity();
    for (int32_t i = 0; i < packets.rd_num; ++i) earliest = std::min(earliest, packets.rd[i].time);
    if (std::isfinite(earliest)) first_arrival = earliest;
  }
  note_video(run, video);
  VideoReader reader(video, options.fps);

  std::unique_ptr<OutFile> frames;
  if (!options.frames.empty()) {
    frames = std::make_unique<OutFile>();
    frames->create(run, options.frames.c_str());
  }
  if (!options.yuv.empty()) run.claim_output(options.yuv);
  std::unique_ptr<Remuxer> out;
  if (!options.out.empty()) {
    run.claim_output(options.out);
    out = std::make_unique<Remuxer>(options.out, reader.stream());
    run.claim_output(options.out);
  }

  FrameJudge judge(rows, options.playout_delay, first_arrival);
  std::optional<std::string> size_note;
  std::vector<Judged> judged;
  VideoFrame f;
  while (reader.next(f)) {
    FrameVerdict v = judge.judge(f);
    const FrameRow* row = judge.row();
    if (out && v.status == ReceiveStatus::kReceived) out->write(reader.packet());
    judged.push_back({f, v, row});
    if (!size_note && row != nullptr && row->sent_packets > 0 && row->sent_bytes != f.size)
      size_note = "trace_video: note: frame " + std::to_string(f.frame) + ": the traces sent " +
                  std::to_string(row->sent_bytes) + " bytes of it, the video's packet has " +
                  std::to_string(f.size) +
                  " (traces may count headers); the figures come all the same";
  }
  if (out) out->finish();
  std::vector<SlotResult> slots;
  QualitySummary quality;
  if (options.decode) {
    slots.resize(judged.size());
    quality = measure(run, options, video, judged, slots);
  }
  if (frames) {
    put(*frames, std::string(kFramesHeader) + (options.decode ? kQualityHeader : "") + "\n");
    for (size_t i = 0; i < judged.size(); ++i)
      put(*frames, frame_row(judged[i].frame, judged[i].row, judged[i].verdict) +
                       (options.decode ? quality_cells(slots[i]) : "") + "\n");
    frames->close();
  }
  constexpr size_t kNamed = 5;
  std::vector<int32_t> unknown;
  ReceiveSummary summary = judge.finish(&unknown, kNamed);
  if (summary.frames_unknown > 0) {
    std::string names;
    for (int32_t u : unknown) names += (names.empty() ? "" : ", ") + std::to_string(u);
    if (summary.frames_unknown > static_cast<int64_t>(unknown.size())) names += ", ...";
    std::string note = "trace_video: note: the traces name " +
                       std::to_string(summary.frames_unknown) +
                       " frames the video does not have (" + names + ")";
    std::fprintf(stderr, "%s\n", note.c_str());
  }
  if (size_note) std::fprintf(stderr, "%s\n", size_note->c_str());
  ReceiveResult result{result_names(options.decode), summary_fields(summary)};
  if (options.decode) {
    std::vector<Field> more = quality_fields(quality);
    result.fields.insert(result.fields.end(), more.begin(), more.end());
  }
  return result;
}
