// trace_video's options: what each sets, and its help lines.

#include "trace_video/options.h"

#include <cmath>

#include "trace_io/failure.h"
#include "trace_video/send.h"

constexpr const char* kSynopsisText =
    "usage: trace_video send [--mtu BYTES | --payload BYTES] [--sources N] [--start S]\n"
    "                        [--gap S] [--fps RATE] VIDEO OUTDIR\n"
    "       trace_video receive --runs LIST [-j N] [--shard K/N] [options] VIDEO\n"
    "       trace_video merge SHARE...\n"
    "       trace_video receive [--playout-delay S] [--out FILE] [--frames FILE]\n"
    "                        [--yuv FILE] [--reference FILE] [--no-decode]\n"
    "                        [--full-decode] [--csv | --json] [--fps RATE]\n"
    "                        VIDEO SD0 SD1 SD2 RD\n";
constexpr const char* kFooterText =
    "\n"
    "Exit status: 0 on success, 1 when an input is bad, 2 on a usage error.\n"
    "Full description: man trace_video\n";

constexpr const char* kSendIntro =
    "send: cuts the first video stream of VIDEO into packets and writes the sender\n"
    "traces OUTDIR/sd0, sd1, sd2 (frame f from source f mod N) and OUTDIR/frames.csv.\n";
constexpr const char* kReceiveIntroText =
    "receive: judges every frame of VIDEO by the traces (received, lost, partial,\n"
    "late, unsent; decodable), decodes what was received and measures what the\n"
    "viewer saw against VIDEO decoded (frozen frames, PSNR, SSIM, MOS); prints a summary.\n";
constexpr const char* kMergeIntroText =
    "merge: the shares' outputs as the whole sweep's, in shard order; refuses a\n"
    "share missing, repeated, cut or of another sweep.\n";

const char* const kSynopsis = kSynopsisText;
const char* const kFooter = kFooterText;
const char* const kReceiveIntro = kReceiveIntroText;
const char* const kMergeIntro = kMergeIntroText;

Subcommand send_command(SendOptions& o) {
  return {"send",
          kSendIntro,
          {number_option(
               "--mtu", kIpUdpHeaders + 1, false,
               [&o](double n) {
                 if (n != std::floor(n))
                   fail_usage("--mtu needs a whole number of bytes from 29 to 65535");
                 o.mtu = static_cast<int32_t>(n);
               },
               "  --mtu BYTES     the largest IP packet, its 28 bytes of IPv4 and UDP headers\n"
               "                  counted: payloads of BYTES - 28\n",
               65535),
           number_option(
               "--payload", 1, false,
               [&o](double n) {
                 if (n != std::floor(n) || n > 1e9)
                   fail_usage("--payload needs a whole number of bytes from 1 to 1000000000");
                 o.payload = static_cast<int32_t>(n);
               },
               "  --payload BYTES payload bytes per packet (default 1024)\n"),
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
           number_option(
               "--gap", 0, false, [&o](double n) { o.gap = n; },
               "  --gap S         time between the packets of a frame (default 0)\n"),
           number_option(
               "--fps", 0, true, [&o](double n) { o.fps = n; },
               "  --fps RATE      frame rate of a stream without timestamps\n")},
          nullptr,
          [&o](Call& call) {
            if (call.paths.size() != 2) fail_usage("send takes VIDEO OUTDIR");
            if (o.mtu > 0 && o.payload > 0) fail_usage("--mtu and --payload exclude each other");
            run_send(call.run, o, call.paths[0], call.paths[1]);
            return 0;
          }};
}

std::vector<Option> receive_options(ReceiveOptions& o, SweepSettings& sweep) {
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
      {"--full-decode", nullptr,
       "  --full-decode   decode both streams whole, also where nothing was lost\n",
       [&o](const char*) { o.full_decode = true; }},
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
  return options;
}
