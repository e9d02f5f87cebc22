// Two halves of a stage on two threads. Each half's failure comes back as a
// value; side_by_side then picks the failure a run on one thread would have
// met first, so that two threads never change a message. And the choice
// of how many threads a run uses.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "trace_io/failure.h"

class RunState;

// Where a failure stands in the order of a run on one thread: earlier
// steps first, and within a step, earlier parts first.
struct OneThreadOrder {
  int64_t step = 0;
  int part = 0;
  auto operator<=>(const OneThreadOrder&) const = default;
};

// A half that failed: its failure, and where a one-thread run meets it.
struct HalfFailure {
  RunFailure failure;
  OneThreadOrder at;
};
using Outcome = std::optional<HalfFailure>;

// One half of a stage: what it does, and where it stands, kept up to date
// by fn and read when it fails.
struct Half {
  std::function<void()> fn;
  const OneThreadOrder& at;
};

// Runs first on this thread and second on another, waits for both, and
// returns the failure a run on one thread meets first (none when neither
// failed). Where no second thread can be started, or the run keeps to one
// thread, they run one after the other, first then second.
Outcome side_by_side(const RunState& run, const Half& first, const Half& second);

// Throws the failure, if any, as it stands (its kind kept).
void rethrow(const Outcome& failure);

struct InputFile;

// Loading the inputs in two halves side by side, so that what a run does
// under a memory limit never depends on the thread choice: where two
// threads ran out of memory and every input can be read again, the load is
// done again on one thread (reset() first drops what the failed load
// kept); where an input is a stream that cannot, a run under a memory
// limit of its own loads on one thread from the start. Throws the failure
// a one-thread load meets first.
void load_side_by_side(const RunState& run, InputFile* inputs, int count, const Half& first,
                       const Half& second, const std::function<void()>& reset);

// The thread choice for a run: one thread under an address-space limit
// (RLIMIT_AS, ulimit -v); otherwise TRACE_ALIGN_THREADS=1 or 2 as set;
// otherwise two threads unless the CPUs the process may use are all busy
// (runs side by side in a sweep), where a second thread could not shorten
// the run and would only add CPU time. True for one thread.
bool one_thread_chosen();
// True when TRACE_ALIGN_THREADS=1 asks for one thread.
bool one_thread_asked();
// What is wrong with TRACE_ALIGN_THREADS when it is set to anything but 1
// or 2 (the choice is then made as if it were unset); "" otherwise.
std::string threads_setting_problem();
