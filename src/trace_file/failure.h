// How a run fails: every problem becomes one RunFailure, thrown where it is
// met and caught only by the entry sequence (run_control.h), which prints
// its message and ends the run.
#pragma once

#include <exception>
#include <string>

// A problem that ends the run; message is what the user reads.
struct RunFailure {
  std::string message;
};

// Throws RunFailure for what went wrong; the message says so when outputs of
// this run already exist, since a failed run leaves them incomplete.
[[noreturn]] void fail(const std::string& what);

// The message for an exception other than RunFailure: in practice an
// allocation that failed.
std::string failure_message(const std::exception& e);

// Set once the first output file of the run is created.
void set_outputs_created(bool created);
bool outputs_created();

// Writes whole lines of text on standard output, at most PIPE_BUF bytes a
// write, so that nothing written after an interruption (a signal's
// message) lands inside a line. A failed write is reported by end_run.
void print_lines(const std::string& text);

// Prints the message (when not empty) on standard output and ends the
// process with exit status 1, as every path of the tool does.
[[noreturn]] void end_run(const std::string& message);
