// trace_report's options and its three modes: one run, a sweep, a merge.

#include "trace_report/command.h"

#include "trace_io/command_line.h"
#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/runner.h"
#include "trace_io/sweep.h"
#include "trace_report/report_output.h"
#include "trace_report/runs.h"

namespace {

constexpr const char* kSynopsis =
    "usage: trace_report [--csv | --json] [--frames FILE] SD0 SD1 SD2 RD\n"
    "       trace_report --runs LIST [-j N] [--shard K/N] [--csv | --json]\n"
    "       trace_report --merge SHARE...\n";
constexpr const char* kIntro =
    "Packet and frame loss, frame delay and its percentiles, jitter and received\n"
    "bitrate of a transmission, from the four traces trace_align reads (text,\n"
    "gzip, zstd or xz; files or pipes).\n"
    "\n";
constexpr const char* kFooter =
    "\n"
    "Exit status: 0 on success, 1 when an input or a run is bad, 2 on a usage error.\n"
    "Full description: man trace_report\n";

struct Settings {
  Format format = Format::kText;
  std::string frames;
  SweepSettings sweep;
  bool merge = false;
};

std::vector<Option> options(Settings& s) {
  std::vector<Option> all = format_options(&s.format, "  --csv          a header line and one row\n",
                                           "  --json         one JSON object\n");
  all.push_back(
      file_option("--frames", &s.frames, "  --frames FILE  also write the per-frame table to FILE as CSV\n"));
  for (Option& o : sweep_options(
           &s.sweep,
           "  --runs LIST    one row per run of LIST, a CSV file of name,sd0,sd1,sd2,rd\n"
           "                 lines (paths relative to LIST's folder); CSV unless --json\n",
           "  -j N           runs on N threads, 1 to 4096 (default: the number of cores)\n",
           "  --shard K/N    only the K-th of N blocks of LIST's runs (K from 0), as a\n"
           "                 share for --merge\n"))
    all.push_back(std::move(o));
  all.push_back(flag_option("--merge", &s.merge,
                            "  --merge        the shares' outputs as the whole sweep's, in shard order;\n"
                            "                 refuses a share missing, repeated, cut or of another sweep\n"));
  return all;
}

// trace_report --runs LIST: a row of figures a run.
int sweep(const Call& call, const Settings& s) {
  if (!call.paths.empty() || !s.frames.empty()) fail_usage("--runs takes no traces and no --frames");
  bool one_thread = call.run.one_thread;
  return run_sweep(call, s.sweep,
                   {names_of(kFigures), "", s.format == Format::kJson, one_thread,
                    [](RunState& run, const RunLine& line) {
                      return fields_of(kFigures, report_run(run, line.paths));
                    }});
}

int run(const Call& call, const Settings& s) {
  if (s.merge) {
    if (s.format != Format::kText || !s.frames.empty() || !s.sweep.list.empty() ||
        s.sweep.jobs != 0 || s.sweep.shard)
      fail_usage("--merge takes share files alone");
    if (call.paths.empty()) fail_usage("--merge needs the shares' files");
    return run_merge(call, call.paths);
  }
  if (!s.sweep.list.empty()) return sweep(call, s);
  refuse_sweep_options(s.sweep);
  if (call.paths.size() != 4) fail_usage("give four traces: SD0 SD1 SD2 RD");
  std::string traces[4] = {call.paths[0], call.paths[1], call.paths[2], call.paths[3]};
  std::vector<FrameRow> frames;
  Report report = report_run(call.run, traces, s.frames.empty() ? nullptr : &frames, s.frames);
  if (!s.frames.empty()) write_text_file(s.frames, format_frames(frames));
  call.out(format_report(report, s.format));
  return 0;
}

}  // namespace

int report_command(const std::string& program, int argc, char** argv) {
  Settings s;
  Subcommand command{"", kIntro, options(s), nullptr,
                     [&s](Call& call) { return run(call, s); }};
  return run_program({program, kSynopsis, {command}, kFooter}, argc, argv);
}
