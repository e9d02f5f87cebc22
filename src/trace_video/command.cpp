// trace_video's subcommands and their option tables.

#include "trace_video/command.h"

#include "trace_io/command_line.h"
#include "trace_io/failure.h"
#include "trace_io/sweep.h"
#include "trace_video/receive.h"
#include "trace_video/options.h"
#include "trace_video/reference_cache.h"
#include "trace_video/send.h"

namespace {

// The options that change a sweep's rows, for telling sweeps apart. Not
// VIDEO's path: hosts may mount the same video at other places.
std::string sweep_settings(const ReceiveOptions& o) {
  return "playout-delay=" + (o.playout_delay ? number_text(*o.playout_delay) : "") +
         " fps=" + (o.fps ? number_text(*o.fps) : "") + " decode=" + (o.decode ? "1" : "0") +
         " reference=" + (o.reference.empty() ? "0" : "1");
}

// receive --runs LIST VIDEO: every run of the list against the one video.
int receive_runs(const Call& call, const ReceiveOptions& o, const SweepSettings& sweep) {
  if (call.paths.size() != 1) fail_usage("receive --runs takes VIDEO alone");
  if (!o.out.empty() || !o.frames.empty() || !o.yuv.empty())
    fail_usage("--runs takes no --out, --frames or --yuv");
  // Every run decodes on one thread, whatever -j: a damaged stream's
  // concealment may depend on a decoder's threads, and a sweep's rows must
  // not depend on the machine, -j or how the sweep was cut into shares.
  const std::string& video = call.paths[0];
  // The reference's pictures of a stretch that several runs decode are
  // decoded once.
  ReferenceCache cache(ReferenceCache::default_bound());
  ReceiveOptions shared = o;
  shared.cache = &cache;
  return run_sweep(call, sweep,
                   {result_names(o.decode), sweep_settings(o), o.format == Format::kJson, true,
                    [&](RunState& run, const RunLine& line) {
                      return run_receive(run, shared, video, line.paths).fields;
                    }});
}

int receive(const Call& call, const ReceiveOptions& o, const SweepSettings& sweep) {
  if (!sweep.list.empty()) return receive_runs(call, o, sweep);
  refuse_sweep_options(sweep);
  if (call.paths.size() != 5) fail_usage("receive takes VIDEO SD0 SD1 SD2 RD");
  std::string traces[4] = {call.paths[1], call.paths[2], call.paths[3], call.paths[4]};
  call.out(format_summary(run_receive(call.run, o, call.paths[0], traces), o.format));
  return 0;
}

Subcommand receive_command(ReceiveOptions& o, SweepSettings& sweep) {
  return {"receive", kReceiveIntro, receive_options(o, sweep), nullptr,
          [&o, &sweep](Call& call) { return receive(call, o, sweep); }};
}

}  // namespace

int video_command(const std::string& program, int argc, char** argv) {
  SendOptions send;
  ReceiveOptions receive;
  SweepSettings sweep;
  Subcommand merge{"merge", kMergeIntro, {},
                   "merge takes share files alone",
                   [](Call& call) {
                     if (call.paths.empty()) fail_usage("merge needs the shares' files");
                     return run_merge(call, call.paths);
                   }};
  return run_program(
      {program, kSynopsis, {send_command(send), receive_command(receive, sweep), merge}, kFooter},
      argc, argv);
}
