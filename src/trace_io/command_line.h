// The command front end every command runs under: a command declares its
// options in a table (name, argument, help lines, what each sets) and its
// subcommands; one loop parses any command line against the table, the
// shared options (file names, numbers, -j, --csv | --json) are checked
// here once with one set of messages, the usage text is made from the
// table, and every failure ends in one place that prints it and picks the
// exit status. A command writes no parser of its own.
//
//   Subcommand send{"send", "send: cuts ...\n",
//                   {file_option("--out", &out, "  --out FILE  ...\n"), ...},
//                   [&](Call& call) { run_send(call.run, ...); return 0; }};
//   return run_program({"trace_video", kSynopsis, {send, ...}, kFooter}, argc, argv);
#pragma once

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace_io/run_state.h"
#include "trace_io/table_output.h"

// One option of a command. set is given the option's argument (null when
// the command line ends first; options without one get null) and fails
// with a usage failure when it is not right.
struct Option {
  std::string name;               // "--frames", "-j"
  const char* argument = nullptr;  // "FILE", "N" ...; null: the option takes none
  const char* help = "";          // its lines of the usage text ("" : none)
  std::function<void(const char* value)> set;
};

// A flag: sets *into.
Option flag_option(std::string name, bool* into, const char* help);
// A file name: "NAME needs a file name" when it is missing or empty.
Option file_option(std::string name, std::string* into, const char* help);
// A finite number with a full stop whatever the locale, at least `low`
// (above it when open) and at most `high`: "NAME needs a number of at
// least 0" (above 0, from 0 to 1 ...), whether the value is no number or
// out of the range.
Option number_option(std::string name, double low, bool open, std::function<void(double)> into,
                     const char* help, double high = std::numeric_limits<double>::infinity());
// --csv and --json into *format, each help its own lines: "--csv given
// twice", "--csv and --json exclude each other".
std::vector<Option> format_options(Format* format, const char* csv_help, const char* json_help);
// -j N: a whole number of threads, 1 to kMaxJobs.
constexpr long kMaxJobs = 4096;
Option jobs_option(int* jobs, const char* help);

// A number with a full stop whatever the locale, the whole text, finite.
bool parse_decimal(const char* text, double* value);

// One command line being run: the arguments that are no options, the
// run's state (its program name, its thread choice, its notes), and
// standard output.
struct Call {
  std::vector<std::string> paths;
  RunState& run;
  // Writes text on standard output; fails (an output failure) when it
  // cannot.
  void out(const std::string& text) const;
};

// A subcommand, or the command itself when its name is empty.
struct Subcommand {
  std::string name;
  const char* intro = "";  // the usage text before its options' help
  std::vector<Option> options;
  // The usage error for an argument that looks like an option, when the
  // subcommand takes none ("merge takes share files alone"); else
  // "unknown option ARG".
  const char* options_refused = nullptr;
  // Runs the parsed command line; returns the exit status (0, or 1 when a
  // run of a sweep failed). Fails with a RunFailure of any kind.
  std::function<int(Call&)> run;
};

struct Program {
  std::string name;      // as messages name it, from main
  const char* synopsis;  // "usage: ..." lines
  std::vector<Subcommand> subcommands;
  const char* footer;  // after every subcommand's help
  // The synopsis, then the help of every subcommand, or of `only`.
  std::string usage(const Subcommand* only = nullptr) const;
};

// Runs a command line: --help and --version alone, the subcommand, the
// options (an option with a value given twice is a usage error; --help
// after a subcommand prints the usage, status 0), the run. Every failure is printed here: a usage
// failure as "PROGRAM: MESSAGE" and the usage (status 2), any other as its text (status 1). The run
// keeps to one thread when one_thread_chosen().
int run_program(const Program& program, int argc, char** argv);
