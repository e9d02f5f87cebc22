// The signal handler: only async-signal-safe calls, and only what was set
// before any thread started.

#include "trace_io/signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// A signal's disposition is the process's: what the handler must know of
// the run is kept beside it, set once by watch_signals.
std::atomic<const RunState*> interrupted_run{nullptr};
std::atomic<int> message_fd{2};
std::atomic<bool> message_named{false};

void write_safely(int fd, const char* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t done = ::write(fd, text, n);
    if (done <= 0) return;
    text += done;
    n -= static_cast<size_t>(done);
  }
}

extern "C" void on_interrupt(int signal) {
  static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                    std::atomic<const RunState*>::is_always_lock_free,
                "read from a signal handler");
  const RunState* run = interrupted_run.load();
  int fd = message_fd.load();
  if (run != nullptr && message_named.load()) {
    write_safely(fd, run->program.c_str());
    write_safely(fd, ": ");
  }
  write_safely(fd, signal == SIGINT    ? "interrupted by SIGINT"
                   : signal == SIGTERM ? "interrupted by SIGTERM"
                                       : "interrupted by SIGHUP");
  if (run != nullptr && run->outputs_created)
    write_safely(fd, "; the outputs of this run are incomplete");
  write_safely(fd, "\n");
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void watch_signals(const RunState& state, int fd, bool named) {
  interrupted_run = &state;
  message_fd = fd;
  message_named = named;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}
