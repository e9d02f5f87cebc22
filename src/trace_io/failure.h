// How a run fails: every problem becomes one RunFailure, thrown where it is
// met. Each command turns it into its message in one place
// (failure_message_of), so no stage prints or exits on its own.
#pragma once

#include <functional>
#include <string>

// A problem that ends the run; message is what the user reads.
struct RunFailure {
  std::string message;
};

// Throws RunFailure{what}. Whether outputs of the run exist, which makes
// the message say so, is for the caller that knows it (RunState).
[[noreturn]] void fail(const std::string& what);

// Runs fn; returns "" when it ends normally, else the message it failed
// with: a RunFailure's own, or "PROGRAM: REASON" for another exception (in
// practice an allocation that failed).
std::string failure_message_of(const std::string& program, const std::function<void()>& fn);

// Writes whole lines of text on standard output, at most PIPE_BUF bytes a
// write, so that nothing written after an interruption (a signal's
// message) lands inside a line. False when a write failed.
bool print_lines(const std::string& text);
