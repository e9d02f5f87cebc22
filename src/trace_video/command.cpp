// trace_video's subcommands and their option tables.

#include "trace_video/command.h"

#include <cmath>

#include "trace_io/command_line.h"
#include "trace_io/failure.h"
#include "trace_io/sweep.h"
#include "trace_video/receive.h"
#include "trace_video/send.h"

namespace {

constexpr const char* kSynopsis =
    "usage: trace_video send [--mtu BYTES] [--sources N] [--start S] [--gap S] [--fps RATE]\n"
    "                        VIDEO OUTDIR\n"
    "       trace_video receive --runs LIST [-j N] [--shard K/N] [options] VIDEO\n"
    "       trace_video merge SHARE...\n"
    "       trace_video receive [--playout-delay S] [--out FILE] [--frames FILE]\n"
    "                        [--yuv FILE] [--reference FILE] [--no-decode]\n"
    "                        [--csv | --json] [--fps RATE] VIDEO SD0 SD1 SD2 RD\n";
constexpr const char* kFooter =
    "\n"
    "Exit status: 0 on success, 1 when an input is bad, 2 on a usage error.\n"
    "Full description: man trace_video\n";

constexpr const char* kSendIntro =
    "send: cuts the first video stream of VIDEO into packets and writes the sender\n"
    "traces OUTDIR/sd0, sd1, sd2 (frame f from source f mod N) and OUTDIR/frames.csv.\n";
constexpr const char* kReceiveIntro =
    "receive: judges every frame of VIDEO by the traces (received, lost, partial,\n"
    "late, unsent; decodable), decodes what was received and measures what the\n"
    "viewer saw against VIDEO decoded (frozen frames, PSNR, SSIM, MOS); prints a summary.\n";
constexpr const char* kMergeIntro =
    "merge: the shares' outputs as the whole sweep's, in shard order; refuses a\n"
    "share missing, repeated, cut or of another sweep.\n";

Subcommand send_command(SendOptions& o) {
  return {"send", kSendIntro,
          {number_option("--mtu", 1, false,
                         [&o](double n) {
                           if (n != std::floor(n) || n > 1e9)
                             fail_usage("--mtu needs a whole number of bytes from 1 to 1000000000");
                           o.mtu = static_cast<int32_t>(n);
                         },
                         "  --mtu BYTES     payload bytes per packet (default 1024)\n"),
           {"--sources", "N", "  --sources N     1, 2 or 3 sources (default 3)\n",
            [&o](const char* v) {
              std::string n = v != nullptr ? v : "";
              if (n != "1" && n != "2" && n != "3") fail_usage("--sources needs 1, 2 or 3");
              o.sources = n[0] - '0';
            }},
           {"--start", "S", "  --start S       send time of the first packet (default 0)\n",
            [&o](const char* v) {
              if (v == nullptr || !parse_decimal(v, &o.start)) fail_usage("--start needs a number");
            }},
           number_option("--gap", 0, false, [&o](double n) { o.gap = n; },
                         "  --gap S         time between the packets of a frame (default 0)\n"),
           number_option("--fps", 0, true, [&o](double n) { o.fps = n; },
                         "  --fps RATE      frame rate of a stream without timestamps\n")},
          nullptr,
          [&o](Call& call) {
            if (call.paths.size() != 2) fail_usage("send takes VIDEO OUTDIR");
            run_send(call.run, o, call.paths[0], call.paths[1]);
            return 0;
          }};
}

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
  return run_sweep(call, sweep,
                   {result_names(o.decode), sweep_settings(o), o.format == Format::kJson, true,
                    [&](RunState& run, const RunLine& line) {
                      return run_receive(run, o, video, line.paths).fields;
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
  auto file = [](const char* name, std::string* into, const char* help) {
    return file_option(name, into, help);
  };
  std::vector<Option> options = {
      number_option("--playout-delay", 0, false, [&o](double n) { o.playout_delay = n; },
                    "  --playout-delay S  a frame arriving later than the first arrival + S + its\n"
                    "                     decode time is late\n"),
      file("--out", &o.out,
           "  --out FILE      the video the receiver got: the received frames' packets,\n"
           "                  remuxed into the container FILE's name asks for\n"),
      file("--frames", &o.frames, "  --frames FILE   the per-frame table as CSV\n"),
      file("--yuv", &o.yuv, "  --yuv FILE      the displayed frames, slot by slot, as YUV4MPEG2\n"),
      file("--reference", &o.reference,
           "  --reference FILE  the frames to measure against (default: VIDEO decoded)\n"),
      {"--no-decode", nullptr, "  --no-decode     the traces' verdicts alone, no decoding\n",
       [&o](const char*) { o.decode = false; }},
      number_option("--fps", 0, true, [&o](double n) { o.fps = n; }, "")};
  for (Option& f : format_options(&o.format,
                                  "  --csv, --json   the summary as a CSV header and row, or one "
                                  "JSON object\n",
                                  ""))
    options.push_back(std::move(f));
  for (Option& s : sweep_options(
           &sweep,
           "  --runs LIST     one row per run of LIST (name,sd0,sd1,sd2,rd lines, as for\n"
           "                  trace_report --runs), against VIDEO; CSV unless --json\n",
           "  -j N            runs on N threads (default: the number of cores)\n",
           "  --shard K/N     only the K-th of N blocks of LIST's runs (K from 0)\n"))
    options.push_back(std::move(s));
  return {"receive", kReceiveIntro, std::move(options), nullptr,
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
