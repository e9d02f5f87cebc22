// Judging a video's frames by the traces: a first pass over the video's
// packets judges each frame, writes it to --out when it was received and
// keeps its verdict (a record a frame); unless --no-decode, a second pass
// decodes what was received beside the reference and measures slot by
// slot; then the per-frame table is written.

#include "trace_video/receive.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_video/measure.h"
#include "trace_video/video_file.h"

namespace {

// The traces' frame table, and the first arrival time (0 when none).
std::vector<FrameRow> load_frame_table(RunState& run, const std::string (&traces)[4],
                                       double* first_arrival) {
  InputFile inputs[4];
  for (int i = 0; i < 4; ++i) inputs[i].open_or_fail(traces[i], run);
  RunPackets packets;
  load_packets(run, packets, inputs);
  double earliest = std::numeric_limits<double>::infinity();
  for (int32_t i = 0; i < packets.rd_num; ++i) earliest = std::min(earliest, packets.rd[i].time);
  if (std::isfinite(earliest)) *first_arrival = earliest;
  return frame_table(packets);
}

// Names (some of) the frames the traces name that the video does not have.
void note_unknown_frames(RunState& run, FrameJudge& judge) {
  constexpr size_t kNamed = 5;
  std::vector<int32_t> unknown;
  ReceiveSummary summary = judge.finish(&unknown, kNamed);
  if (summary.frames_unknown == 0) return;
  std::string names;
  for (int32_t u : unknown) names += (names.empty() ? "" : ", ") + std::to_string(u);
  if (summary.frames_unknown > static_cast<int64_t>(unknown.size())) names += ", ...";
  run.note("note: the traces name " + std::to_string(summary.frames_unknown) +
           " frames the video does not have (" + names + ")");
}

}  // namespace

ReceiveResult run_receive(RunState& run, const ReceiveOptions& options, const std::string& video,
                          const std::string (&traces)[4]) {
  // Decoding reads VIDEO again: a pipe is refused before anything is read.
  VideoInput input(run, video, options.decode);
  std::optional<VideoInput> reference;
  if (!options.reference.empty()) reference.emplace(run, options.reference, false);
  double first_arrival = 0;
  std::vector<FrameRow> rows = load_frame_table(run, traces, &first_arrival);
  run.claim_outputs({options.out, options.frames, options.yuv});
  VideoReader reader(video, options.fps);
  std::unique_ptr<OutFile> frames;
  if (!options.frames.empty()) {
    frames = std::make_unique<OutFile>();
    frames->create(run, options.frames.c_str());
  }
  std::unique_ptr<Remuxer> out;
  if (!options.out.empty())
    out = std::make_unique<Remuxer>(run, options.out, reader.stream(), video);

  FrameJudge judge(rows, options.playout_delay, first_arrival);
  std::vector<Judged> judged;
  std::optional<std::string> size_note;  // said after the other notes
  for (VideoFrame f; reader.next(f);) {
    FrameVerdict v = judge.judge(f);
    const FrameRow* row = judge.row();
    if (out && v.status == ReceiveStatus::kReceived) out->write(reader.packet(), f.frame);
    judged.push_back({f, v, row});
    if (!size_note && row != nullptr && row->sent_packets > 0 && row->sent_bytes != f.size)
      size_note = "note: frame " + std::to_string(f.frame) + ": the traces sent " +
                  std::to_string(row->sent_bytes) + " bytes of it, the video's packet has " +
                  std::to_string(f.size) +
                  " (traces may count headers); the figures come all the same";
  }
  if (out) out->finish();
  input.check();
  std::vector<SlotResult> slots;
  QualitySummary quality;
  if (options.decode) {
    slots.resize(judged.size());
    quality = measure(run, options, video, judged, reader.resets_trusted(), slots);
    input.check();
    if (reference) reference->check();
  }
  if (frames) {
    frames->write(csv_header(frame_columns(options.decode)));
    for (size_t i = 0; i < judged.size(); ++i)
      frames->write(csv_row(frame_fields(judged[i].frame, judged[i].row, judged[i].verdict,
                                         options.decode ? &slots[i] : nullptr)));
    frames->close();
  }
  ReceiveSummary summary = judge.finish(nullptr, 0);
  note_unknown_frames(run, judge);
  if (summary.untimed_arrivals > 0)
    run.note("note: frames whose arrival time is no number (nan or inf): " +
             std::to_string(summary.untimed_arrivals) + ", the first frame " +
             std::to_string(summary.first_untimed) +
             "; no play-out deadline can be judged for them, and they count as late");
  if (options.decode && quality.ssim_slots < quality.slots)
    run.note("note: slots whose pictures are under 8x8 samples, with no SSIM window: " +
             std::to_string(quality.slots - quality.ssim_slots) +
             "; their ssim_y is empty and ssim_y_mean leaves them out");
  if (size_note) run.note(*size_note);
  if (summary.decodable_frames == 0 && !judged.empty()) {
    std::string what =
        options.decode
            ? "; every slot shows a grey picture, against which the figures measure the video"
            : "";
    if (!options.out.empty()) what += "; " + options.out + " holds no frame";
    run.note("note: no frame of the video was received and decodable" + what);
  }
  ReceiveResult result{result_names(options.decode), fields_of(kSummaryFigures, summary),
                       static_cast<int64_t>(judged.size()), quality.decoded};
  if (options.decode) {
    std::vector<Field> more = quality_fields(quality);
    result.fields.insert(result.fields.end(), more.begin(), more.end());
  }
  return result;
}
