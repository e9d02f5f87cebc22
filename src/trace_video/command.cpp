// Parsing trace_video's arguments and running its subcommands.

#include "trace_video/command.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "trace_io/failure.h"
#include "trace_io/run_list.h"
#include "trace_io/runner.h"
#include "trace_io/shares.h"
#include "trace_io/table_output.h"
#include "trace_video/receive.h"
#include "trace_video/send.h"

namespace {

constexpr const char* kUsage =
    "usage: trace_video send [--mtu BYTES] [--sources N] [--start S] [--gap S] [--fps RATE]\n"
    "                        VIDEO OUTDIR\n"
    "       trace_video receive --runs LIST [-j N] [--shard K/N] [options] VIDEO\n"
    "       trace_video merge SHARE...\n"
    "       trace_video receive [--playout-delay S] [--out FILE] [--frames FILE]\n"
    "                        [--yuv FILE] [--reference FILE] [--no-decode]\n"
    "                        [--csv | --json] [--fps RATE] VIDEO SD0 SD1 SD2 RD\n"
    "send: cuts the first video stream of VIDEO into packets and writes the sender\n"
    "traces OUTDIR/sd0, sd1, sd2 (frame f from source f mod N) and OUTDIR/frames.csv.\n"
    "  --mtu BYTES     payload bytes per packet (default 1024)\n"
    "  --sources N     1, 2 or 3 sources (default 3)\n"
    "  --start S       send time of the first packet (default 0)\n"
    "  --gap S         time between the packets of a frame (default 0)\n"
    "  --fps RATE      frame rate of a stream without timestamps\n"
    "receive: judges every frame of VIDEO by the traces (received, lost, partial,\n"
    "late, unsent; decodable), decodes what was received and measures what the\n"
    "viewer saw against VIDEO decoded (frozen frames, PSNR, SSIM, MOS); prints a summary.\n"
    "  --playout-delay S  a frame arriving later than the first arrival + S + its\n"
    "                     decode time is late\n"
    "  --out FILE      the video the receiver got: the received frames' packets,\n"
    "                  remuxed into the container FILE's name asks for\n"
    "  --frames FILE   the per-frame table as CSV\n"
    "  --yuv FILE      the displayed frames, slot by slot, as YUV4MPEG2\n"
    "  --reference FILE  the frames to measure against (default: VIDEO decoded)\n"
    "  --no-decode     the traces' verdicts alone, no decoding\n"
    "  --csv, --json   the summary as a CSV header and row, or one JSON object\n"
    "  --runs LIST     one row per run of LIST (name,sd0,sd1,sd2,rd lines, as for\n"
    "                  trace_report --runs), against VIDEO; CSV unless --json\n"
    "  -j N            runs on N threads (default: the number of cores)\n"
    "  --shard K/N     only the K-th of N blocks of LIST's runs (K from 0)\n"
    "merge: the shares' outputs as the whole sweep's, in shard order; refuses a\n"
    "share missing, repeated, cut or of another sweep.\n"
    "\n"
    "Exit status: 0 on success, 1 when an input is bad, 2 on a usage error.\n"
    "Full description: man trace_video\n";

int usage_error(const std::string& what) {
  std::fprintf(stderr, "trace_video: %s\n%s", what.c_str(), kUsage);
  return 2;
}

bool put(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

// A number with a full stop whatever the locale, the whole text.
bool parse_number(const char* text, double* value) {
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, *value);
  return error == std::errc() && stop == end && std::isfinite(*value);
}

// The options of both subcommands, and the other arguments in order.
struct Arguments {
  SendOptions send;
  ReceiveOptions receive;
  std::vector<std::string> paths;
  std::string runs;            // --runs LIST
  int jobs = 0;                // -j N
  std::optional<Shard> shard;  // --shard K/N
  std::string error;           // a usage error, when not empty
};

Arguments parse(int argc, char** argv, bool sending) {
  Arguments a;
  for (int i = 2; i < argc && a.error.empty(); ++i) {
    std::string arg = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    double number = 0;
    auto needs_number = [&](double low, bool open_low) {
      if (v == nullptr || !parse_number(v, &number) || number < low ||
          (open_low && number == low)) {
        a.error = arg + " needs a number" + (open_low ? " above " : " of at least ") +
                  (low == 0 ? "0" : "1");
        return false;
      }
      ++i;
      return true;
    };
    auto needs_file = [&](std::string& into) {
      if (v == nullptr || *v == '\0') {
        a.error = arg + " needs a file name";
        return;
      }
      into = v;
      ++i;
    };
    if (sending && arg == "--mtu") {
      if (needs_number(1, false)) {
        if (number != std::floor(number) || number > 1e9)
          a.error = "--mtu needs a whole number of bytes from 1 to 1000000000";
        a.send.mtu = static_cast<int32_t>(number);
      }
    } else if (sending && arg == "--sources") {
      if (v == nullptr ||
          (std::strcmp(v, "1") != 0 && std::strcmp(v, "2") != 0 && std::strcmp(v, "3") != 0))
        a.error = "--sources needs 1, 2 or 3";
      else
        a.send.sources = argv[++i][0] - '0';
    } else if (sending && arg == "--start") {
      if (v != nullptr && parse_number(v, &number)) {
        a.send.start = number;
        ++i;
      } else {
        a.error = "--start needs a number";
      }
    } else if (sending && arg == "--gap") {
      if (needs_number(0, false)) a.send.gap = number;
    } else if (arg == "--fps") {
      if (needs_number(0, true)) a.send.fps = a.receive.fps = number;
    } else if (!sending && arg == "--playout-delay") {
      if (needs_number(0, false)) a.receive.playout_delay = number;
    } else if (!sending && arg == "--out") {
      needs_file(a.receive.out);
    } else if (!sending && arg == "--frames") {
      needs_file(a.receive.frames);
    } else if (!sending && arg == "--yuv") {
      needs_file(a.receive.yuv);
    } else if (!sending && arg == "--reference") {
      needs_file(a.receive.reference);
    } else if (!sending && arg == "--no-decode") {
      a.receive.decode = false;
    } else if (!sending && arg == "--runs") {
      needs_file(a.runs);
    } else if (!sending && arg == "--shard") {
      if (v != nullptr) a.shard = parse_shard(v);
      if (!a.shard) a.error = shard_usage_error(v);
      ++i;
    } else if (!sending && arg == "-j") {
      if (needs_number(1, false)) {
        if (number != std::floor(number) || number > 4096) a.error = "-j takes 1 to 4096 threads";
        a.jobs = static_cast<int>(number);
      }
    } else if (!sending && (arg == "--csv" || arg == "--json")) {
      bool& mine = arg == "--csv" ? a.receive.csv : a.receive.json;
      bool& other = arg == "--csv" ? a.receive.json : a.receive.csv;
      if (other)
        a.error = "--csv and --json exclude each other";
      else if (mine)
        a.error = arg + " given twice";
      mine = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      a.error = "unknown option " + arg;
    } else {
      a.paths.push_back(arg);
    }
  }
  return a;
}

// The options that change a sweep's rows, for telling sweeps apart. Not
// VIDEO's path: hosts may mount the same video at other places.
std::string sweep_settings(const ReceiveOptions& o) {
  return "playout-delay=" + (o.playout_delay ? number_text(*o.playout_delay) : "") +
         " fps=" + (o.fps ? number_text(*o.fps) : "") + " decode=" + (o.decode ? "1" : "0") +
         " reference=" + (o.reference.empty() ? "0" : "1");
}

// receive --runs LIST VIDEO: every run of the list against the one video,
// a row each in the list's order (CSV, or JSON with --json), first column
// run, last column error; a bad run does not stop the others.
int receive_runs(const Arguments& a) {
  if (a.paths.size() != 1) return usage_error("receive --runs takes VIDEO alone");
  if (!a.receive.out.empty() || !a.receive.frames.empty() || !a.receive.yuv.empty())
    return usage_error("--runs takes no --out, --frames or --yuv");
  std::vector<RunLine> list;
  std::string failed = failure_message_of("trace_video", [&] { list = read_run_list(a.runs); });
  if (!failed.empty()) {
    std::fprintf(stderr, "%s\n", failed.c_str());
    return 1;
  }
  std::vector<RunLine> runs = runs_of(list, a.shard);
  int jobs =
      a.jobs > 0 ? a.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  // Every run decodes on one thread, whatever -j: a damaged stream's
  // concealment may depend on a decoder's threads, and a sweep's rows must
  // not depend on the machine, -j or how the sweep was cut into shares.
  bool one_thread = true;
  std::vector<std::string> names = result_names(a.receive.decode);
  std::vector<std::vector<Field>> rows(runs.size());
  std::vector<uint8_t> ok(runs.size());  // bytes: runs on other threads write their own
  run_each(runs.size(), jobs, isatty(2) == 1, [&](size_t i) {
    RunState state("trace_video", one_thread);
    ReceiveResult result;
    std::string message = failure_message_of(
        state.program, [&] { result = run_receive(state, a.receive, a.paths[0], runs[i].paths); });
    std::vector<Field>& row = rows[i];
    row.push_back(Field::string(runs[i].name));
    if (message.empty())
      row.insert(row.end(), result.fields.begin(), result.fields.end());
    else
      row.resize(names.size() + 1);
    row.push_back(message.empty() ? Field{} : Field::string(message));
    ok[i] = message.empty();
    return message.empty();
  });
  names.insert(names.begin(), "run");
  names.push_back("error");
  size_t bad = 0;
  for (uint8_t good : ok) bad += !good;
  std::string text = format_rows(names, rows, a.receive.json);
  if (a.shard)
    text = share_text({"trace_video", *a.shard, list.size(), bad,
                       sweep_fingerprint(list, sweep_settings(a.receive)), a.receive.json},
                      text);
  if (!put(text)) {
    std::fprintf(stderr, "trace_video: cannot write standard output: %s\n", std::strerror(errno));
    return 1;
  }
  return bad == 0 ? 0 : 1;
}

}  // namespace

int video_command(int argc, char** argv) {
  std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "--version")) {
    if (put(first == "--help" ? kUsage : "trace_video " TRACE_ALIGN_VERSION "\n")) return 0;
    std::fprintf(stderr, "trace_video: cannot write standard output: %s\n", std::strerror(errno));
    return 1;
  }
  if (first == "merge") {
    std::vector<std::string> shares(argv + 2, argv + argc);
    for (const std::string& arg : shares)
      if (arg.size() > 1 && arg[0] == '-') return usage_error("merge takes share files alone");
    if (shares.empty()) return usage_error("merge needs the shares' files");
    return merge_command("trace_video", shares);
  }
  if (first != "send" && first != "receive")
    return usage_error(first.empty() ? "give a subcommand: send, receive or merge"
                                     : "unknown subcommand " + first + " (send, receive or merge)");
  bool sending = first == "send";
  Arguments a = parse(argc, argv, sending);
  if (!a.error.empty()) return usage_error(a.error);
  std::string problem = threads_setting_problem();
  if (!problem.empty()) std::fprintf(stderr, "trace_video: %s\n", problem.c_str());
  RunState state("trace_video", one_thread_chosen());
  std::string message, summary;
  if (!sending && !a.runs.empty()) return receive_runs(a);
  if (!sending && a.jobs != 0) return usage_error("-j goes with --runs");
  if (a.shard) return usage_error("--shard goes with --runs");
  if (sending) {
    if (a.paths.size() != 2) return usage_error("send takes VIDEO OUTDIR");
    message =
        failure_message_of(state.program, [&] { run_send(state, a.send, a.paths[0], a.paths[1]); });
  } else {
    if (a.paths.size() != 5) return usage_error("receive takes VIDEO SD0 SD1 SD2 RD");
    std::string traces[4] = {a.paths[1], a.paths[2], a.paths[3], a.paths[4]};
    message = failure_message_of(state.program, [&] {
      summary = format_summary(run_receive(state, a.receive, a.paths[0], traces), a.receive.csv,
                               a.receive.json);
    });
  }
  if (!message.empty()) {
    std::fprintf(stderr, "%s\n", state.failure_text(message).c_str());
    return 1;
  }
  if (!put(summary)) {
    std::fprintf(stderr, "trace_video: cannot write standard output: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
