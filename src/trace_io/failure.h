// How a run fails: every problem becomes one RunFailure, thrown where it is
// met. Each command turns it into its message in one place
// (failure_message_of), so no stage prints or exits on its own.
#pragma once

#include <functional>
#include <optional>
#include <string>

// A problem that ends the run; message is what the user reads.
struct RunFailure {
  std::string message;
  bool out_of_memory = false;  // memory ran short: another way may not
};

// Throws RunFailure{what}. Whether outputs of the run exist, which makes
// the message say so, is for the caller that knows it (RunState).
[[noreturn]] void fail(const std::string& what);
// The same for memory that ran short.
[[noreturn]] void fail_out_of_memory(const std::string& what);

// Runs fn; returns nothing when it ends normally, else the failure it
// ended with: a RunFailure, or "PROGRAM: REASON" for another exception (in
// practice an allocation that failed).
std::optional<RunFailure> failure_of(const std::string& program, const std::function<void()>& fn);
// The same as its message; "" when fn ends normally.
std::string failure_message_of(const std::string& program, const std::function<void()>& fn);

// Writes whole lines of text on standard output, at most PIPE_BUF bytes a
// write, so that nothing written after an interruption (a signal's
// message) lands inside a line. False when a write failed.
bool print_lines(const std::string& text);
