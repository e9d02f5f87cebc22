// Sweeps and their merge, as every command runs them.

#include "trace_io/sweep.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "trace_io/failure.h"
#include "trace_io/shares.h"

std::vector<Option> sweep_options(SweepSettings* settings, const char* runs_help,
                                  const char* jobs_help, const char* shard_help) {
  return {file_option("--runs", &settings->list, runs_help), jobs_option(&settings->jobs, jobs_help),
          {"--shard", "K/N", shard_help, [settings](const char* value) {
             if (value != nullptr) settings->shard = parse_shard(value);
             if (!settings->shard) fail_usage(shard_usage_error(value));
           }}};
}

void refuse_sweep_options(const SweepSettings& settings) {
  if (settings.shard) fail_usage("--shard goes with --runs");
  if (settings.jobs != 0) fail_usage("-j goes with --runs");
}

namespace {

// One line on standard error kept up to date while a sweep runs on a
// terminal.
class ProgressLine {
 public:
  explicit ProgressLine(size_t runs) : runs_(runs) {}
  void operator()(const Progress& p) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r%zu of %zu runs done, %zu failed, %.1f s", p.done, runs_, p.failed,
                 seconds);
    if (p.last) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  size_t runs_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int run_sweep(const Call& call, const SweepSettings& settings, const Sweep& sweep) {
  const std::string& program = call.run.program;
  std::vector<RunLine> list = read_run_list(settings.list);
  std::vector<RunLine> runs = runs_of(list, settings.shard);
  if (sweep.json)
    for (const RunLine& run : runs)
      if (!is_utf8(run.name))
        call.run.note(settings.list + ":" + std::to_string(run.line) +
                      ": the run name is not UTF-8; in the JSON its bad bytes are U+FFFD");
  int jobs = settings.jobs > 0 ? settings.jobs
                               : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::vector<Field>> rows(runs.size());
  std::vector<uint8_t> ok(runs.size());  // bytes: runs on other threads write their own
  std::function<void(const Progress&)> progress;
  if (isatty(2) == 1) progress = ProgressLine(runs.size());
  run_each(
      runs.size(), jobs,
      [&](size_t i) {
        RunState state(program, sweep.one_thread);
        state.label = settings.list + ":" + std::to_string(runs[i].line);
        std::vector<Field> figures;
        std::optional<RunFailure> failure =
            failure_of([&] { figures = sweep.run(state, runs[i]); });
        std::vector<Field>& row = rows[i];
        row.push_back(Field::string(runs[i].name));
        if (failure) figures.assign(sweep.columns.size(), Field{});  // empty fields, JSON nulls
        row.insert(row.end(), figures.begin(), figures.end());
        row.push_back(failure ? Field::string(failure->text(program)) : Field{});
        ok[i] = !failure;
        return !failure;
      },
      progress);
  std::vector<std::string> names = sweep.columns;
  names.insert(names.begin(), "run");
  names.push_back("error");
  size_t bad = static_cast<size_t>(std::count(ok.begin(), ok.end(), 0));
  std::string text = format_rows(names, rows, sweep.json);
  if (settings.shard)
    text = share_text({program, *settings.shard, list.size(), bad,
                       sweep_fingerprint(list, sweep.settings), sweep.json},
                      text);
  call.out(text);
  return bad == 0 ? 0 : 1;
}

int run_merge(const Call& call, const std::vector<std::string>& shares) {
  MergedShares merged = merge_shares(shares);
  if (!merged.problems.empty()) {
    // One failure, a line for each problem, each in the program's voice.
    std::string text;
    for (const std::string& problem : merged.problems)
      text += (text.empty() ? "" : "\n" + call.run.program + ": ") + problem;
    throw RunFailure{text, FailureKind::kInput, true};
  }
  call.out(merged.output);
  return merged.failed == 0 ? 0 : 1;
}
