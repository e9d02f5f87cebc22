// Scratch directories, files and runs of the built binary for the tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "failure.h"
#include "trace_file.h"

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
};

// Runs the built tool in the current directory, with extra environment
// settings such as "LC_ALL=de_DE.UTF-8".
inline RunResult RunTool(const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    for (const std::string& e : env)
      if (!e.empty()) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(TRACE_ALIGN_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  RunResult result;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) result.out.append(buf, size_t(n));
  close(fds[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

// Runs of the tool as shipped, and on one thread: the path it takes where
// no second thread can be started.
inline const std::vector<std::string> kThreadModes = {"", "TRACE_ALIGN_THREADS=1"};
inline std::string ThreadModeName(const ::testing::TestParamInfo<std::string>& info) {
  return info.param.empty() ? "TwoThreads" : "OneThread";
}

// A fixture that works in a fresh scratch directory, removed afterwards.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    char tmpl[] = "/tmp/trace_align_test.XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::current_path(dir_);
    set_outputs_created(false);
    forget_files();
  }
  void TearDown() override {
    fs::current_path(old_);
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }
  static bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

  // The message a run in this process ends with, or "" if it did not end.
  template <typename Fn>
  static std::string EndMessage(Fn fn) {
    try {
      fn();
    } catch (const RunFailure& e) {
      return e.message;
    }
    return "";
  }

  fs::path old_;
  std::string dir_;
};
