// trace_video send VIDEO OUTDIR: a video's sender traces; trace_video
// receive VIDEO SD0 SD1 SD2 RD: what the receiver got of it.

#include <csignal>

#include "trace_video/command.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a closed output is a failed write
  return video_command(argc, argv);
}
