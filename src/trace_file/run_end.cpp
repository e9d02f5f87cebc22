// How a run ends: its one message, then exit status 1, as on every path.
// Kept apart so that tests and fuzz targets can link a replacement that
// hands the message back instead of ending the process.

#include <cstdlib>

#include "trace_file.h"

void end_run(const std::string& message) {
  if (!message.empty()) {
    std::fputs(message.c_str(), stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0) std::fputs("trace_align: cannot write to standard output\n", stderr);
  std::exit(1);
}
