// Running two halves of a stage side by side.

#include "trace_io/runner.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/memory.h"
#include "trace_io/run_state.h"

namespace {

const char* threads_setting() { return std::getenv("TRACE_ALIGN_THREADS"); }

// True when every CPU this process may run on is taken already: by the
// tasks runnable right now (/proc/loadavg's fourth field, "runnable/all",
// this process included), or because it may run on one CPU only.
bool cpus_busy() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return false;
  int cpus = CPU_COUNT(&set);
  if (cpus <= 1) return true;
  std::FILE* loadavg = std::fopen("/proc/loadavg", "re");
  if (loadavg == nullptr) return false;
  double one_minute, five, fifteen;
  int runnable = 0;
  bool read = std::fscanf(loadavg, "%lf %lf %lf %d/", &one_minute, &five, &fifteen, &runnable) == 4;
  std::fclose(loadavg);
  return read && runnable > cpus;
}

// Runs a half, turning its failure into a value.
Outcome run_half(const RunState& run, const Half& half) {
  (void)run;
  std::optional<RunFailure> failure = failure_of(half.fn);
  if (!failure) return std::nullopt;
  return HalfFailure{std::move(*failure), half.at};
}

Outcome halves(bool one_thread, const RunState& run, const Half& first, const Half& second) {
  Outcome a, b;
  std::thread helper;
  if (!one_thread) {
    try {
      helper = std::thread([&] { b = run_half(run, second); });
    } catch (const std::system_error&) {
      // No thread to spare (a process limit, say): one after the other.
    }
  }
  a = run_half(run, first);
  if (helper.joinable())
    helper.join();
  else
    b = run_half(run, second);
  if (a && b) return a->at <= b->at ? a : b;
  return a ? a : b;
}

}  // namespace

bool one_thread_chosen() {
  // Under an address-space limit a second thread's stack and heap arena
  // would change what fits: one thread, whatever is asked.
  if (address_space_limited()) return true;
  const char* threads = threads_setting();
  if (threads != nullptr && std::strcmp(threads, "1") == 0) return true;
  if (threads != nullptr && std::strcmp(threads, "2") == 0) return false;
  return cpus_busy();
}

bool one_thread_asked() {
  const char* threads = threads_setting();
  return threads != nullptr && std::strcmp(threads, "1") == 0;
}

std::string threads_setting_problem() {
  const char* threads = threads_setting();
  if (threads == nullptr || std::strcmp(threads, "1") == 0 || std::strcmp(threads, "2") == 0)
    return "";
  return std::string("TRACE_ALIGN_THREADS=") + threads +
         " is neither 1 nor 2; the thread count is chosen as when it is unset";
}

Outcome side_by_side(const RunState& run, const Half& first, const Half& second) {
  return halves(run.one_thread, run, first, second);
}

void load_side_by_side(const RunState& run, InputFile* inputs, int count, const Half& first,
                       const Half& second, const std::function<void()>& reset) {
  bool streams = false;
  for (int i = 0; i < count; ++i) streams = streams || inputs[i].is_stream();
  bool one_thread = run.one_thread || (streams && memory_limited());
  Outcome failure = halves(one_thread, run, first, second);
  if (failure && failure->failure.out_of_memory() && !one_thread && !streams) {
    reset();
    bool rewound = true;
    for (int i = 0; i < count; ++i) rewound = rewound && inputs[i].rewind();
    if (rewound) failure = halves(true, run, first, second);
  }
  rethrow(failure);
}

void rethrow(const Outcome& failure) {
  if (failure) throw failure->failure;
}
