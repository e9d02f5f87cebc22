// Running two halves of a stage side by side.

#include "runner.h"

#include <sched.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "failure.h"

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

// TRACE_ALIGN_THREADS=1 or 2 as set; otherwise two threads unless the
// CPUs are busy (runs side by side in a sweep): a second thread could not
// shorten the run then, and would only add CPU time.
bool one_thread_chosen() {
  const char* threads = threads_setting();
  if (threads != nullptr && std::strcmp(threads, "1") == 0) return true;
  if (threads != nullptr && std::strcmp(threads, "2") == 0) return false;
  return cpus_busy();
}

// As chosen from the start, and again at each run.
std::atomic<bool> one_thread{one_thread_chosen()};

}  // namespace

void limit_to_one_thread(bool one) { one_thread = one; }
void limit_threads_as_environment_asks() { one_thread = one_thread_chosen(); }
bool one_thread_asked() {
  const char* threads = threads_setting();
  return threads != nullptr && std::strcmp(threads, "1") == 0;
}
bool limited_to_one_thread() { return one_thread; }

Outcome run_half(const std::function<void()>& fn, const OneThreadOrder& at) {
  try {
    fn();
    return std::nullopt;
  } catch (const RunFailure& failure) {
    return HalfFailure{failure.message, at};
  } catch (const std::exception& e) {
    return HalfFailure{failure_message(e), at};
  }
}

void run_side_by_side(const std::function<void()>& first, const std::function<void()>& second) {
  std::thread helper;
  if (!one_thread) {
    try {
      helper = std::thread(second);
    } catch (const std::system_error&) {
      // No thread to spare (a process limit, say): one after the other.
    }
  }
  first();
  if (helper.joinable())
    helper.join();
  else
    second();
}

const HalfFailure* first_met(const Outcome& a, const Outcome& b) {
  if (a && b) return a->at <= b->at ? &*a : &*b;
  if (a) return &*a;
  if (b) return &*b;
  return nullptr;
}

void rethrow_first_met(const Outcome& a, const Outcome& b) {
  // The message carries its suffix already: thrown as it stands.
  if (const HalfFailure* failure = first_met(a, b)) throw RunFailure{failure->message};
}
