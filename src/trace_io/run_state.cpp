// The state of one run.

#include "trace_io/run_state.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

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
  std::string line = program + ": " + (label.empty() ? "" : label + ": ") + text + "\n";
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

namespace {

// Where path names, as far as the file system can tell before the file
// exists: its folder resolved, its own name as given.
std::string place_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char resolved[PATH_MAX];
  if (name.empty() || name == "." || name == ".." || ::realpath(dir.c_str(), resolved) == nullptr)
    return path;
  return std::string(resolved) + "/" + name;
}

}  // namespace

void RunState::claim_outputs(const std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i) {
    if (paths[i].empty()) continue;
    for (size_t j = 0; j < i; ++j)
      if (!paths[j].empty() && place_of(paths[i]) == place_of(paths[j]))
        fail(paths[j] == paths[i] ? "output file " + paths[i] +
                                        " is named twice; each output needs a file of its own"
                                  : paths[j] + " and " + paths[i] + " are the same file");
  }
  for (const std::string& path : paths)
    if (!path.empty()) claim_output(path);
}
