// The library's test fixtures: scratch directories, files, and runs of a
// built program with its standard output and error captured. Each
// command's tests add their own (trace_align_support.h ...).
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "trace_io/failure.h"
#include "trace_io/run_state.h"
#include "trace_io/runner.h"

namespace fs = std::filesystem;

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;  // standard error, when the run captured it
};

// Starts the built tool in the current directory with standard output on
// a pipe (and standard error on another when err is given), with extra
// environment settings such as "LC_ALL=de_DE.UTF-8"; returns its pid and
// stores the pipes' reading ends in *out and *err. Spawned, not forked:
// emulators of other machines run a spawn more reliably.
inline pid_t StartProgram(const char* program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env, int* out, int* err = nullptr) {
  int fds[2], errs[2] = {-1, -1};
  if (pipe(fds) != 0) return -1;
  if (err != nullptr && pipe(errs) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  if (err != nullptr) {
    posix_spawn_file_actions_adddup2(&actions, errs[1], 2);
    posix_spawn_file_actions_addclose(&actions, errs[0]);
    posix_spawn_file_actions_addclose(&actions, errs[1]);
  }
  std::vector<std::string> strings{program};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : strings) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The extra settings replace inherited ones of the same name.
  auto name = [](const std::string& setting) { return setting.substr(0, setting.find('=') + 1); };
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const std::string& x : env) replaced = replaced || (!x.empty() && name(x) == name(*e));
    if (!replaced) environment.push_back(*e);
  }
  for (const std::string& e : env)
    if (!e.empty()) environment.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  *out = fds[0];
  if (err != nullptr) {
    close(errs[1]);
    *err = errs[0];
  }
  return pid;
}

inline pid_t StartTool(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       int* out) {
  return StartProgram(TRACE_ALIGN_BINARY, args, env, out);
}

// Everything the reading end of a pipe gives until it is closed.
inline std::string Drain(int fd) {
  std::string text;
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(fd);
  return text;
}

// Everything two pipes give until both are closed, read side by side so
// that neither fills up.
inline void DrainBoth(int out_fd, int err_fd, std::string* out, std::string* err) {
  struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* into[2] = {out, err};
  char buf[65536];
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, static_cast<size_t>(n));
        continue;
      }
      close(fds[i].fd);
      fds[i].fd = -1;
      --open;
    }
  }
}

// Runs a built program in the current directory and waits for it, its
// standard output and error captured.
inline RunResult RunToolAt(const char* program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env = {}) {
  int out, err;
  pid_t pid = StartProgram(program, args, env, &out, &err);
  RunResult result;
  if (pid < 0) return result;
  DrainBoth(out, err, &result.out, &result.err);
  int wstatus = 0;
  if (pid > 0) waitpid(pid, &wstatus, 0);
  result.status = pid < 0              ? -1
                  : WIFEXITED(wstatus) ? WEXITSTATUS(wstatus)
                                       : 128 + WTERMSIG(wstatus);
  return result;
}
inline RunResult RunTool(const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}) {
  return RunToolAt(TRACE_ALIGN_BINARY, args, env);
}

// Runs of the tool as shipped, and on one thread: the path it takes where
// no second thread can be started. Left to itself the tool takes one
// thread when the machine is busy (as it is while tests run side by side),
// so the tests ask for two unless the environment sets TRACE_ALIGN_THREADS
// (an emulated suite asks for one); this process's own runs follow suit.
inline const bool kTwoThreadsUnlessSet = [] {
  setenv("TRACE_ALIGN_THREADS", "2", 0);
  return true;
}();
inline const std::vector<std::string> kThreadModes = {"", "TRACE_ALIGN_THREADS=1"};
inline std::string ThreadModeName(const ::testing::TestParamInfo<std::string>& info) {
  return info.param.empty() ? "TwoThreads" : "OneThread";
}

// A fixture that works in a fresh scratch directory, removed afterwards,
// with the verbs of a run: inputs written, the built tool run, outputs
// read. state is the run state of what a test runs in-process.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    char tmpl[] = "/tmp/trace_align_test.XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

 public:
  static bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

 protected:

  // The four inputs of a run, as files sd0, sd1, sd2 and rd.
  static void WriteInputs(const std::string& sd0, const std::string& sd1, const std::string& sd2,
                          const std::string& rd) {
    WriteFile("sd0", sd0);
    WriteFile("sd1", sd1);
    WriteFile("sd2", sd2);
    WriteFile("rd", rd);
  }
  // The built tool on those inputs (or on args), with extra environment settings.
  static RunResult Run(const std::vector<std::string>& args = {"sd0", "sd1", "sd2", "rd"},
                       const std::vector<std::string>& env = {}) {
    return RunTool(args, env);
  }
  static std::string ReadOutput(const char* name) { return ReadFile(name); }

  // The message what fn runs in this process ends with, as run() gives it,
  // or "" if it did not end.
  std::string EndMessage(const std::function<void()>& fn) {
    std::string message = failure_message_of(state.program, fn);
    return message.empty() ? message : state.failure_text(message);
  }

  RunState state{"trace_align", one_thread_asked()};

  fs::path old_;
  std::string dir_;
};

// Standard output of a shell command, for the peers the tests hold our
// tools to (ffmpeg, ffprobe) and for redirections a spawn cannot make.
inline std::string Shell(const std::string& command) {
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// True when the ffmpeg and ffprobe programs, the video tests' reference,
// are on the PATH.
inline bool HaveFfmpegTools() {
  return Shell("command -v ffprobe >/dev/null && command -v ffmpeg >/dev/null && echo yes") == "yes\n";
}

// True when the manual page at man_path documents the usage error
// message: one of the quoted texts of its paragraph "Usage errors", its
// placeholders (NAME, TEXT, N, 802.11STD ...) standing for any value, is
// the whole message. The printed messages are held to the page, not only
// the page's to the sources.
inline bool DocumentedIn(const std::string& man_path, const std::string& message) {
  std::string page = ReadFile(man_path);
  page = page.substr(std::min(page.size(), page.find("Usage errors")));
  page = page.substr(0, page.find("\n.SH "));
  std::string flat;
  for (size_t i = 0; i < page.size(); ++i) {
    if (page[i] == '\\' && i + 1 < page.size() && page[i + 1] == '-') {
      flat += '-';
      ++i;
    } else if (page[i] == '\\' && i + 1 < page.size() && page[i + 1] == 'f') {
      i += 2;
    } else {
      flat += page[i] == '\n' ? ' ' : page[i];
    }
  }
  for (size_t open = flat.find('"'); open != std::string::npos; open = flat.find('"', open + 1)) {
    size_t close = flat.find('"', open + 1);
    if (close == std::string::npos) break;
    // The quoted text's literal pieces between placeholders; each
    // placeholder stands for one character or more.
    std::string quoted = flat.substr(open + 1, close - open - 1);
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < quoted.size();) {
      char c = quoted[i];
      if (c >= 'A' && c <= 'Z') {
        size_t j = i;
        while (j < quoted.size() && ((quoted[j] >= 'A' && quoted[j] <= 'Z') ||
                                     (quoted[j] >= '0' && quoted[j] <= '9')))
          ++j;
        if (j == quoted.size() || !(quoted[j] >= 'a' && quoted[j] <= 'z')) {
          pieces.emplace_back();
          i = j;
          continue;
        }
      }
      pieces.back() += c;
      ++i;
    }
    // The first piece starts the message, the last ends it, the others
    // follow in order, each placeholder at least a character.
    bool matches = message.compare(0, pieces.front().size(), pieces.front()) == 0;
    size_t at = pieces.front().size();
    for (size_t k = 1; matches && k + 1 < pieces.size(); ++k) {
      size_t found = message.find(pieces[k], at + 1);
      matches = found != std::string::npos;
      at = found + pieces[k].size();
    }
    if (pieces.size() == 1) {
      matches = matches && message.size() == at;
    } else if (matches) {
      const std::string& last = pieces.back();
      matches = message.size() >= at + 1 + last.size() &&
                message.compare(message.size() - last.size(), last.size(), last) == 0;
    }
    if (matches) return true;
    open = close;
  }
  return false;
}
