// A run of trace_report: the traces loaded, grouped by frame, summed up.

#include "trace_report/runs.h"

#include <sys/stat.h>

#include "trace_io/failure.h"
#include "trace_io/runner.h"

Report report_run(RunState& run, const std::string (&paths)[4], std::vector<FrameRow>* frames,
                  const std::string& frames_path) {
  InputFile inputs[4];
  for (int i = 0; i < 4; ++i) inputs[i].open_or_fail(paths[i], run);
  if (!frames_path.empty()) {
    run.claim_output(frames_path);
    // Opened only once the figures exist: nothing may wait for a reader.
    struct stat st;
    if (::stat(frames_path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
      fail(frames_path + ": cannot create: not a regular file");
  }
  RunPackets trace;
  load_packets(run, trace, inputs);
  std::vector<FrameRow> table = frame_table(trace);
  Report report = summarise(trace, table);
  if (frames != nullptr) *frames = std::move(table);
  return report;
}
