// The one error channel and the end of the process.

#include "failure.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> created{false};  // set by whichever thread creates an output first
}  // namespace

void set_outputs_created(bool value) { created = value; }
bool outputs_created() { return created; }

void fail(const std::string& what) {
  // Outputs are truncated before they are filled: a failure after the first
  // one exists leaves the whole set unusable, and the user must know.
  throw RunFailure{created ? what + "; the outputs of this run are incomplete" : what};
}

std::string failure_message(const std::exception& e) {
  std::string what = dynamic_cast<const std::bad_alloc*>(&e) != nullptr
                         ? "trace_align: cannot allocate memory"
                         : std::string("trace_align: ") + e.what();
  return created ? what + "; the outputs of this run are incomplete" : what;
}

void end_run(const std::string& message) {
  if (!message.empty()) {
    std::fputs(message.c_str(), stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0) std::fputs("trace_align: cannot write to standard output\n", stderr);
  std::exit(1);
}
