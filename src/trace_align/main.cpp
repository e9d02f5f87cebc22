// trace_align SD0 SD1 SD2 RD: lines up three sender traces and a receiver
// trace frame by frame and writes the aligned traces and frame summaries
// into the current directory. Exit status is 1 on every path but --help
// and --version.

#include <cstdio>

#include "trace_align/run_control.h"
#include "trace_io/runner.h"

int main(int argc, char** argv) {
  if (const char* text = help_or_version(argc, argv)) {
    bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : 1;
  }
  RunState state("trace_align", one_thread_chosen());
  watch_signals(state);
  end_run(state, run(argc, argv, state));
}
