// Running two halves of a stage side by side.

#include "runner.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "failure.h"

namespace {
bool one_thread_asked() {
  const char* threads = std::getenv("TRACE_ALIGN_THREADS");
  return threads != nullptr && std::strcmp(threads, "1") == 0;
}
// As the environment asks from the start, and again at each run.
std::atomic<bool> one_thread{one_thread_asked()};
}  // namespace

void limit_to_one_thread(bool one) { one_thread = one; }
void limit_threads_as_environment_asks() { one_thread = one_thread_asked(); }
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
