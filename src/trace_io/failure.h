// How a run fails: every problem becomes one RunFailure, thrown where it is
// met, carrying what kind of problem it is. It travels one way, up to the
// one place per command that prints it and picks the exit status (the
// command front end), so no stage prints or exits on its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What went wrong, which picks the exit status and how the message reads.
enum class FailureKind {
  kUsage,        // the command line: the message, then the usage; status 2
  kInput,        // an input is missing, unreadable or malformed
  kOutput,       // an output cannot be created or written
  kMemory,       // memory ran short: another way (one thread) may not
  kInterrupted,  // a signal ended the run
};

// A problem that ends the run; message is what the user reads. A message
// in the program's own voice ("cannot allocate memory", "cannot write
// standard output: ...") is spoken: the program's name goes first.
struct RunFailure {
  std::string message;
  FailureKind kind = FailureKind::kInput;
  bool spoken = false;
  bool out_of_memory() const { return kind == FailureKind::kMemory; }
  // The message as printed: "PROGRAM: " first when spoken.
  std::string text(std::string_view program) const;
};

// Throws RunFailure{what}. Whether outputs of the run exist, which makes
// the message say so, is for the caller that knows it (RunState).
[[noreturn]] void fail(const std::string& what);
// The same for memory that ran short.
[[noreturn]] void fail_out_of_memory(const std::string& what);
// The same for a command line that is wrong.
[[noreturn]] void fail_usage(const std::string& what);
// An output that cannot be written, in the program's voice:
// "PROGRAM: cannot write WHAT: REASON" for the system's error number.
[[noreturn]] void fail_write(const std::string& what, int error);

// Runs fn; returns nothing when it ends normally, else the failure it
// ended with: a RunFailure, or a spoken one for another exception (in
// practice an allocation that failed).
std::optional<RunFailure> failure_of(const std::function<void()>& fn);
// The same as its printed text; "" when fn ends normally.
std::string failure_message_of(std::string_view program, const std::function<void()>& fn);

// Writes whole lines of text on standard output, at most PIPE_BUF bytes a
// write, so that nothing written after an interruption (a signal's
// message) lands inside a line. False when a write failed.
bool print_lines(const std::string& text);
