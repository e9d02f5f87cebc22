// trace_video send VIDEO OUTDIR: a video's sender traces; trace_video
// receive VIDEO SD0 SD1 SD2 RD: what the receiver got of it.

#include <csignal>

extern "C" {
#include <libavutil/log.h>
}

#include "trace_video/command.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a closed output is a failed write
  // A decoder concealing lost frames reports each one; that is what the
  // figures measure, not news. Failures come back as our own messages.
  av_log_set_level(AV_LOG_FATAL);
  return video_command("trace_video", argc, argv);
}
