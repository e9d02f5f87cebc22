// The one error channel.

#include "trace_io/failure.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

void fail(const std::string& what) { throw RunFailure{what}; }
void fail_out_of_memory(const std::string& what) {
  throw RunFailure{what, FailureKind::kMemory};
}
void fail_usage(const std::string& what) { throw RunFailure{what, FailureKind::kUsage, true}; }
void fail_write(const std::string& what, int error) {
  throw RunFailure{"cannot write " + what + ": " + std::strerror(error), FailureKind::kOutput, true};
}

std::string RunFailure::text(std::string_view program) const {
  return spoken ? std::string(program) + ": " + message : message;
}

std::optional<RunFailure> failure_of(const std::function<void()>& fn) {
  try {
    fn();
    return std::nullopt;
  } catch (const RunFailure& failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    return RunFailure{"cannot allocate memory", FailureKind::kMemory, true};
  } catch (const std::exception& e) {
    return RunFailure{e.what(), FailureKind::kInput, true};
  }
}

std::string failure_message_of(std::string_view program, const std::function<void()>& fn) {
  std::optional<RunFailure> failure = failure_of(fn);
  return failure ? failure->text(program) : "";
}

bool print_lines(const std::string& text) {
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
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
  }
  return true;
}
