// The one error channel and the end of the process.

#include "failure.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> created{false};  // set by whichever thread creates an output first
bool output_failed = false;        // a write to standard output failed
}  // namespace

void print_lines(const std::string& text) {
  std::fflush(stdout);  // what stdio holds comes first
  size_t at = 0;
  while (at < text.size()) {
    // Up to PIPE_BUF bytes ending with a newline: such a write to a pipe
    // is never split.
    size_t end = std::min(text.size(), at + PIPE_BUF);
    if (end < text.size()) {
      size_t newline = text.rfind('\n', end - 1);
      if (newline != std::string::npos && newline >= at) end = newline + 1;
    }
    while (at < end) {
      ssize_t n = ::write(1, text.data() + at, end - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        output_failed = true;
        return;
      }
      at += static_cast<size_t>(n);
    }
  }
}

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
  if (std::fflush(stdout) != 0 || output_failed) std::fputs("trace_align: cannot write to standard output\n", stderr);
  std::exit(1);
}
