// trace_report SD0 SD1 SD2 RD: what a transmission lost and how late it
// arrived; trace_report --runs LIST: the same for many runs.

#include <csignal>

#include "trace_report/command.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a closed output is a failed write
  return report_command("trace_report", argc, argv);
}
