// The state of one run.

#include "trace_io/run_state.h"

#include <sys/stat.h>

#include <cstdio>

#include "trace_io/failure.h"

std::string RunState::failure_text(const std::string& message) const {
  // Outputs are truncated before they are filled: a failure after the first
  // one exists leaves the whole set unusable, and the user must know.
  return outputs_created ? message + "; the outputs of this run are incomplete" : message;
}

void RunState::say(const std::string& text) {
  std::lock_guard<std::mutex> lock(say_mutex_);
  if (captured != nullptr)
    *captured += text;
  else if (!print_lines(text))
    say_failed_ = true;
}

void RunState::note(const std::string& text) {
  std::string line = program + ": " + text + "\n";
  std::lock_guard<std::mutex> lock(say_mutex_);
  if (captured_notes != nullptr)
    *captured_notes += line;
  else
    std::fputs(line.c_str(), stderr);
}

void RunState::note_input(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::lock_guard<std::mutex> lock(files_mutex_);
  files_.push_back({st.st_dev, st.st_ino, path, true});
}

std::string RunState::note_output(dev_t dev, ino_t ino, const std::string& name) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  for (const FileId& f : files_) {
    // The same output created again (in tests) is no conflict.
    if (f.dev != dev || f.ino != ino || (!f.input && f.name == name)) continue;
    if (f.input)
      return "input file " + f.name + " is the output file " + name +
             " of this run; refusing to overwrite it";
    return f.name + " and " + name + " are the same file";
  }
  files_.push_back({dev, ino, name, false});
  return "";
}

void RunState::claim_output(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::string refused = note_output(st.st_dev, st.st_ino, path);
  if (!refused.empty()) fail(refused);
}
