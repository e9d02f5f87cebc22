// A study's runs: the list file naming each run's four traces, and the
// runs of a list on several threads. Shared by the commands that sweep.
#pragma once

#include <cstddef>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A run of a list: its name and its four trace paths.
// A list line (and a share's header line) holds at most this many
// characters: a device or a file that is no list ends the reading at its
// first line, not when memory runs out.
inline constexpr size_t kMaxListLine = 65536;

struct RunLine {
  int64_t line = 0;  // in the list
  std::string name;
  std::string paths[4];  // SD0 SD1 SD2 RD
  std::string written;   // the line as in the list, paths unresolved
};

// The runs of a list file: one "name,sd0,sd1,sd2,rd" line each, paths
// relative to the list's folder; "#" lines and blank lines skipped, and a
// byte-order mark; read as traces are (compressed, piped). Fails
// (RunFailure) on a line that is not such a line or too long, naming the
// list and line.
std::vector<RunLine> read_run_list(const std::string& list_path);

// Runs run(i) for i in [0, count) on `jobs` threads (one when
// TRACE_ALIGN_THREADS=1), handing them out in order; run returns false for
// a run that failed. After each run, and once more at the end (last set),
// progress (when given) hears how many are done and how many failed, one
// call at a time.
struct Progress {
  size_t done = 0, failed = 0;
  bool last = false;
};
void run_each(size_t count, int jobs, const std::function<bool(size_t)>& run,
              const std::function<void(const Progress&)>& progress = {});
