// trace_align SD0 SD1 SD2 RD: lines up three sender traces and a receiver
// trace frame by frame and writes the aligned traces and frame summaries
// into the current directory. Exit status is 1 on every path but --help
// and --version.

#include <cstdio>
#include <string>

#include "trace_align/run_control.h"
#include "trace_io/runner.h"
#include "trace_io/signals.h"

int main(int argc, char** argv) {
  if (const char* text = help_or_version(argc, argv)) {
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0) return 0;
    std::fputs("trace_align: cannot write to standard output\n", stderr);
    return 1;
  }
  std::string problem = threads_setting_problem();
  if (!problem.empty()) std::fprintf(stderr, "trace_align: %s\n", problem.c_str());
  RunState state("trace_align", one_thread_chosen());
  watch_signals(state, 1, false);
  end_run(state, run(argc, argv, state));
}
