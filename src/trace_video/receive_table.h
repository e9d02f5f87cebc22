// What trace_video receive prints and writes: the summary's figures (one
// name-and-value table each, so names and values cannot drift) and the
// per-frame table of --frames, all through table_output.
#pragma once

#include <string>
#include <vector>

#include "trace_io/table_output.h"
#include "trace_video/frame_judge.h"
#include "trace_video/quality.h"

// The frames' figures, in output order (CSV columns, JSON keys).
extern const std::vector<Figure<ReceiveSummary>> kSummaryFigures;

// A run's summary: its keys and values, in output order.
struct ReceiveResult {
  std::vector<std::string> names;
  std::vector<Field> fields;
  int64_t frames = 0, decoded = 0;  // the video's frames; decoded of each stream (not shown)
};
// The keys of a summary, with the quality figures or without.
std::vector<std::string> result_names(bool decode);
// The summary as aligned text, a CSV header and row, or a JSON object.
std::string format_summary(const ReceiveResult& result, Format format);

// What slot a frame is displayed in, and what the viewer saw there.
struct SlotResult {
  int64_t display = -1;
  bool frozen = false;
  SlotFigures figures;
};
// The per-frame table's columns, with the quality columns or without.
std::vector<std::string> frame_columns(bool decode);
// A frame's row: the video's frame, its trace row (null: the traces name it
// not), its verdict, and its slot when decoded.
std::vector<Field> frame_fields(const VideoFrame& frame, const FrameRow* row,
                                const FrameVerdict& verdict, const SlotResult* slot);
