// Parsing trace_report's arguments and writing its outputs.

#include "trace_report/command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "trace_io/failure.h"
#include "trace_io/runner.h"
#include "trace_io/shares.h"
#include "trace_io/table_output.h"
#include "trace_report/report_output.h"
#include "trace_report/runs.h"

namespace {

constexpr const char* kUsage =
    "usage: trace_report [--csv | --json] [--frames FILE] SD0 SD1 SD2 RD\n"
    "       trace_report --runs LIST [-j N] [--shard K/N] [--csv | --json]\n"
    "       trace_report --merge SHARE...\n"
    "Packet and frame loss, frame delay and its percentiles, jitter and received\n"
    "bitrate of a transmission, from the four traces trace_align reads (text,\n"
    "gzip, zstd or xz; files or pipes).\n"
    "\n"
    "  --csv          a header line and one row\n"
    "  --json         one JSON object\n"
    "  --frames FILE  also write the per-frame table to FILE as CSV\n"
    "  --runs LIST    one row per run of LIST, a CSV file of name,sd0,sd1,sd2,rd\n"
    "                 lines (paths relative to LIST's folder); CSV unless --json\n"
    "  -j N           runs on N threads, 1 to 4096 (default: the number of cores)\n"
    "  --shard K/N    only the K-th of N blocks of LIST's runs (K from 0), as a\n"
    "                 share for --merge\n"
    "  --merge        the shares' outputs as the whole sweep's, in shard order;\n"
    "                 refuses a share missing, repeated, cut or of another sweep\n"
    "\n"
    "Exit status: 0 on success, 1 when an input or a run is bad, 2 on a usage error.\n"
    "Full description: man trace_report\n";

// Threads of a list: more would only cost memory (a run's traces each).
constexpr long kMaxJobs = 4096;

int usage_error(const std::string& what) {
  std::fprintf(stderr, "trace_report: %s\n%s", what.c_str(), kUsage);
  return 2;
}

// Writes text to standard output; false when it cannot.
bool put(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

int write_failed(const char* what) {
  std::fprintf(stderr, "trace_report: cannot write %s: %s\n", what, std::strerror(errno));
  return 1;
}

}  // namespace

int report_command(int argc, char** argv) {
  Style style = Style::kText;
  bool styled = false;
  std::string frames_path, list_path;
  int jobs = 0;
  std::optional<Shard> shard;
  bool merging = false;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // The option's value: the next argument, or null when there is none.
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" && argc == 2) return put(kUsage) ? 0 : write_failed("standard output");
    if (arg == "--version" && argc == 2)
      return put("trace_report " TRACE_ALIGN_VERSION "\n") ? 0 : write_failed("standard output");
    if (arg == "--csv" || arg == "--json") {
      Style asked = arg == "--csv" ? Style::kCsv : Style::kJson;
      if (styled && style == asked) return usage_error(arg + " given twice");
      if (styled) return usage_error("--csv and --json exclude each other");
      style = arg == "--csv" ? Style::kCsv : Style::kJson;
      styled = true;
    } else if (arg == "--frames") {
      const char* v = value();
      if (v == nullptr || *v == '\0') return usage_error("--frames needs a file name");
      frames_path = v;
    } else if (arg == "--runs") {
      const char* v = value();
      if (v == nullptr || *v == '\0') return usage_error("--runs needs a file name");
      list_path = v;
    } else if (arg == "--shard") {
      const char* v = value();
      if (v != nullptr) shard = parse_shard(v);
      if (!shard) return usage_error(shard_usage_error(v));
    } else if (arg == "--merge") {
      merging = true;
    } else if (arg == "-j") {
      const char* v = value();
      char* end = nullptr;
      long n = v != nullptr ? std::strtol(v, &end, 10) : 0;
      if (v == nullptr || *v == '\0' || *end != '\0')
        return usage_error("-j needs a number of threads");
      if (n < 1 || n > kMaxJobs)
        return usage_error("-j takes 1 to " + std::to_string(kMaxJobs) + " threads, not " + v);
      jobs = static_cast<int>(n);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return usage_error("unknown option " + arg);
    } else {
      paths.push_back(arg);
    }
  }

  std::string problem = threads_setting_problem();
  if (!problem.empty()) std::fprintf(stderr, "trace_report: %s\n", problem.c_str());
  if (merging) {
    if (styled || !frames_path.empty() || !list_path.empty() || jobs != 0 || shard)
      return usage_error("--merge takes share files alone");
    if (paths.empty()) return usage_error("--merge needs the shares' files");
    return merge_command("trace_report", paths);
  }
  if (shard && list_path.empty()) return usage_error("--shard goes with --runs");
  if (!list_path.empty()) {
    if (!paths.empty() || !frames_path.empty())
      return usage_error("--runs takes no traces and no --frames");
    std::vector<RunLine> list;
    std::string failed =
        failure_message_of("trace_report", [&] { list = read_run_list(list_path); });
    if (!failed.empty()) {
      std::fprintf(stderr, "%s\n", failed.c_str());
      return 1;
    }
    std::vector<RunLine> runs = runs_of(list, shard);
    if (style == Style::kJson)
      for (const RunLine& run : runs)
        if (!is_utf8(run.name))
          std::fprintf(stderr, "%s\n",
                       ("trace_report: " + list_path + ":" + std::to_string(run.line) +
                        ": the run name is not UTF-8; in the JSON its bad bytes are U+FFFD")
                           .c_str());
    if (jobs == 0) jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<RunOutcome> outcomes = report_runs(runs, jobs, one_thread_chosen(), isatty(2) == 1);
    size_t bad = 0;
    for (const RunOutcome& o : outcomes) bad += !o.error.empty();
    std::string text =
        format_runs(runs, outcomes, style == Style::kJson ? Style::kJson : Style::kCsv);
    if (shard)
      text = share_text({"trace_report", *shard, list.size(), bad, sweep_fingerprint(list, ""),
                         style == Style::kJson},
                        text);
    if (!put(text)) return write_failed("standard output");
    return bad == 0 ? 0 : 1;
  }

  if (paths.size() != 4) return usage_error("give four traces: SD0 SD1 SD2 RD");
  if (jobs != 0) return usage_error("-j goes with --runs");
  std::string traces[4] = {paths[0], paths[1], paths[2], paths[3]};
  std::vector<FrameRow> frames;
  RunOutcome outcome =
      report_run(traces, one_thread_chosen(), frames_path.empty() ? nullptr : &frames, frames_path);
  if (!outcome.report) {
    std::fprintf(stderr, "%s\n", outcome.error.c_str());
    return 1;
  }
  if (!frames_path.empty()) {
    std::FILE* f = std::fopen(frames_path.c_str(), "w");
    std::string table = format_frames(frames);
    bool written = f != nullptr && std::fwrite(table.data(), 1, table.size(), f) == table.size();
    if (f != nullptr && std::fclose(f) != 0) written = false;
    if (!written) return write_failed(frames_path.c_str());
  }
  if (!put(format_report(*outcome.report, style))) return write_failed("standard output");
  return 0;
}
