// Runs, one or many. Each run of a list is independent: its own trace set,
// its own failure; a shared counter hands runs to the threads in order.

#include "trace_report/runs.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "trace_io/failure.h"
#include "trace_io/run_state.h"
#include "trace_io/runner.h"

RunOutcome report_run(const std::string (&paths)[4], bool one_thread, std::vector<FrameRow>* frames,
                      const std::string& frames_path) {
  RunOutcome outcome;
  RunState state("trace_report", one_thread);
  outcome.error = failure_message_of(state.program, [&] {
    InputFile inputs[4];
    for (int i = 0; i < 4; ++i) inputs[i].open_or_fail(paths[i], state);
    if (!frames_path.empty()) {
      state.claim_output(frames_path);
      // Opened only once the figures exist: nothing may wait for a reader.
      struct stat st;
      if (::stat(frames_path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        fail(frames_path + ": cannot create: not a regular file");
    }
    RunPackets trace;
    load_packets(state, trace, inputs);
    std::vector<FrameRow> table = frame_table(trace);
    outcome.report = summarise(trace, table);
    if (frames != nullptr) *frames = std::move(table);
  });
  if (!outcome.error.empty()) outcome.report.reset();
  return outcome;
}

std::vector<RunOutcome> report_runs(const std::vector<RunLine>& runs, int jobs, bool one_thread,
                                    bool progress) {
  std::vector<RunOutcome> outcomes(runs.size());
  run_each(runs.size(), jobs, progress, [&](size_t i) {
    outcomes[i] = report_run(runs[i].paths, one_thread);
    return outcomes[i].error.empty();
  });
  return outcomes;
}
