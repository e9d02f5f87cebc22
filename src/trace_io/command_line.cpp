// The command front end: one parse loop over a command's option table, and
// the one place a command's failures are printed.

#include "trace_io/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "trace_io/failure.h"
#include "trace_io/runner.h"
#include "trace_io/signals.h"
#include "trace_io/table_output.h"

bool parse_decimal(const char* text, double* value) {
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, *value);
  return error == std::errc() && stop == end && std::isfinite(*value);
}

Option flag_option(std::string name, bool* into, const char* help) {
  return {std::move(name), nullptr, help, [into](const char*) { *into = true; }};
}

Option file_option(std::string name, std::string* into, const char* help) {
  return {name, "FILE", help, [name, into](const char* value) {
            if (value == nullptr || *value == '\0') fail_usage(name + " needs a file name");
            *into = value;
          }};
}

Option number_option(std::string name, double low, bool open, std::function<void(double)> into,
                     const char* help, double high) {
  return {name, "NUMBER", help, [=](const char* value) {
            double number = 0;
            if (value == nullptr || !parse_decimal(value, &number) || number < low ||
                (open && number == low) || number > high) {
              std::string range =
                  std::isinf(high) ? (open ? " above " : " of at least ") + number_text(low)
                  : open           ? " above " + number_text(low) + ", at most " + number_text(high)
                                   : " from " + number_text(low) + " to " + number_text(high);
              fail_usage(name + " needs a number" + range);
            }
            into(number);
          }};
}

std::vector<Option> format_options(Format* format, const char* csv_help, const char* json_help) {
  auto set = [format](Format asked, const char* name) {
    return [format, asked, name](const char*) {
      if (*format == asked) fail_usage(std::string(name) + " given twice");
      if (*format != Format::kText) fail_usage("--csv and --json exclude each other");
      *format = asked;
    };
  };
  return {{"--csv", nullptr, csv_help, set(Format::kCsv, "--csv")},
          {"--json", nullptr, json_help, set(Format::kJson, "--json")}};
}

Option jobs_option(int* jobs, const char* help) {
  return {"-j", "N", help, [jobs](const char* value) {
            long n = 0;
            const char* end = value == nullptr ? nullptr : value + std::strlen(value);
            std::from_chars_result read{end, std::errc::invalid_argument};
            if (value != nullptr) read = std::from_chars(value, end, n);
            if (value == nullptr || *value == '\0' || read.ptr != end ||
                read.ec == std::errc::invalid_argument)
              fail_usage("-j needs a number of threads");
            if (read.ec != std::errc() || n < 1 || n > kMaxJobs)
              fail_usage("-j takes 1 to " + std::to_string(kMaxJobs) + " threads, not " + value);
            *jobs = static_cast<int>(n);
          }};
}

void Call::out(const std::string& text) const {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    fail_write("standard output", errno);
}

std::string Program::usage(const Subcommand* only) const {
  std::string text = synopsis;
  for (const Subcommand& sub : subcommands) {
    if (only != nullptr && &sub != only) continue;
    text += sub.intro;
    for (const Option& o : sub.options) text += o.help;
  }
  return text + footer;
}

namespace {

// The subcommand argv names, or a usage failure.
const Subcommand& pick(const Program& program, int argc, char** argv, int* first_option) {
  *first_option = 1;
  if (program.subcommands.size() == 1 && program.subcommands[0].name.empty())
    return program.subcommands[0];
  std::string asked = argc > 1 ? argv[1] : "";
  std::string names;
  for (size_t i = 0; i < program.subcommands.size(); ++i) {
    const Subcommand& sub = program.subcommands[i];
    if (sub.name == asked) {
      *first_option = 2;
      return sub;
    }
    names += (i == 0 ? "" : i + 1 == program.subcommands.size() ? " or " : ", ") + sub.name;
  }
  if (asked.empty()) fail_usage("give a subcommand: " + names);
  fail_usage("unknown subcommand " + asked + " (" + names + ")");
}

// Sets the options, collecting the other arguments in order. An option
// with a value is set once: the last of two would silently win.
std::vector<std::string> parse(const Subcommand& sub, int first, int argc, char** argv,
                               bool* help) {
  std::vector<std::string> paths;
  std::vector<const Option*> given;
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    const Option* option = nullptr;
    for (const Option& o : sub.options)
      if (o.name == arg) option = &o;
    if (option != nullptr && option->argument != nullptr) {
      if (std::find(given.begin(), given.end(), option) != given.end())
        fail_usage(option->name + " given twice");
      given.push_back(option);
    }
    if (option == nullptr && arg == "--help") {
      *help = true;
      return paths;
    }
    if (option == nullptr) {
      if (arg.size() > 1 && arg[0] == '-')
        fail_usage(sub.options_refused != nullptr ? sub.options_refused : "unknown option " + arg);
      paths.push_back(arg);
      continue;
    }
    const char* value = nullptr;
    if (option->argument != nullptr && i + 1 < argc) value = argv[++i];
    option->set(value);
  }
  return paths;
}

}  // namespace

int run_program(const Program& program, int argc, char** argv) {
  RunState state(program.name, one_thread_chosen());
  watch_signals(state, 2, true);
  int status = 0;
  std::optional<RunFailure> failure = failure_of([&] {
    std::string only = argc == 2 ? argv[1] : "";
    if (only == "--help" || only == "--version") {
      Call call{{}, state};
      call.out(only == "--help" ? program.usage()
                                : program.name + " " + TRACE_ALIGN_VERSION + "\n");
      return;
    }
    int first = 1;
    const Subcommand& sub = pick(program, argc, argv, &first);
    bool help = false;
    Call call{parse(sub, first, argc, argv, &help), state};
    if (help) {
      call.out(program.usage(&sub));
      return;
    }
    std::string problem = threads_setting_problem();
    if (!problem.empty()) state.note(problem);
    status = sub.run(call);
  });
  if (!failure) return status;
  if (failure->kind == FailureKind::kUsage) {
    std::fprintf(stderr, "%s: %s\n%s", program.name.c_str(), failure->message.c_str(),
                 program.usage().c_str());
    return 2;
  }
  std::fprintf(stderr, "%s\n", state.failure_text(failure->text(program.name)).c_str());
  return 1;
}
