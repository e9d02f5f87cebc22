// Two halves of a stage on two threads. Each half's failure comes back as a
// value; the caller then picks, with first_met, the failure a run on one
// thread would have met first, so that two threads never change a message.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Where a failure stands in the order of a run on one thread: earlier
// steps first, and within a step, earlier parts first.
struct OneThreadOrder {
  int64_t step = 0;
  int part = 0;
  auto operator<=>(const OneThreadOrder&) const = default;
};

// A half that failed: its message, and where a one-thread run meets it.
struct HalfFailure {
  std::string message;
  OneThreadOrder at;
};
using Outcome = std::optional<HalfFailure>;

// Runs fn, turning a RunFailure or an allocation failure into a value.
// at is where fn stands, kept up to date by fn and read when it fails.
Outcome run_half(const std::function<void()>& fn, const OneThreadOrder& at);

// Runs first on this thread and second on another, and waits for both.
// Where no second thread can be started, or threads are limited to one,
// they run one after the other, first then second.
void run_side_by_side(const std::function<void()>& first, const std::function<void()>& second);

// The failure a run on one thread meets first: the one earlier in
// OneThreadOrder; null when neither half failed.
const HalfFailure* first_met(const Outcome& a, const Outcome& b);

// Throws the failure, if any, that a one-thread run meets first.
void rethrow_first_met(const Outcome& a, const Outcome& b);

// At most one thread for the rest of the process. Initially as the
// environment's TRACE_ALIGN_THREADS asks (1: one thread, 2: two); unset,
// one thread only when the CPUs the process may use are all busy.
void limit_to_one_thread(bool one);
bool limited_to_one_thread();
// Chooses again (a run in-process may change the environment).
void limit_threads_as_environment_asks();
// True when TRACE_ALIGN_THREADS=1 asks for one thread.
bool one_thread_asked();
