// What one run of a command must know while it goes, in one object that
// the command's run() owns and hands down: nothing of it is kept anywhere
// else, so runs side by side in one process (trace_report --runs, tests)
// share nothing.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class RunState {
 public:
  // program names the command in messages; one_thread keeps every stage
  // (decompression included) on the calling thread.
  explicit RunState(std::string program = "trace_io", bool one_thread = false)
      : program(std::move(program)), one_thread(one_thread) {}
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;

  const std::string program;
  const bool one_thread;

  // Set once the first output file of the run is created: a failure from
  // then on leaves the outputs incomplete, and its message must say so.
  std::atomic<bool> outputs_created{false};
  // The message of a failure with that said when it is true.
  std::string failure_text(const std::string& message) const;

  // A line or more of messages on standard output (see print_lines), or
  // into *captured when a test set it. A failed write is remembered.
  void say(const std::string& text);
  bool said_all() const { return !say_failed_; }
  std::string* captured = nullptr;

  // A note on standard error, "PROGRAM: TEXT" and a newline, or into
  // *captured_notes when a test set it: what the user should know of a run
  // that goes on.
  void note(const std::string& text);
  std::string* captured_notes = nullptr;
  // Where the run stands in a sweep ("LIST:LINE"), said before its notes.
  std::string label;

  // The regular files the run reads and writes, so that no output is
  // opened onto an input or onto another output, even when a link appears
  // after the checks at start-up. Notes an input's file (nothing for a
  // pipe or device).
  void note_input(int fd, const std::string& path);
  // Notes the regular file (dev, ino) opened as the output `name`; returns
  // instead, noting nothing, the message that refuses it when it is an
  // input or another output of the run ("" when it is neither).
  std::string note_output(dev_t dev, ino_t ino, const std::string& name);
  // For an output opened later, or by a library: fails when path names a
  // regular file that is an input or another output of the run; notes it.
  void claim_output(const std::string& path);
  // Before any output is created: fails when two of paths name one file
  // (one name twice, or two names of one place, though the file does not
  // exist yet), or when one is an input; claims those that exist. Empty
  // names are skipped.
  void claim_outputs(const std::vector<std::string>& paths);

 private:
  struct FileId {
    dev_t dev;
    ino_t ino;
    std::string name;  // as messages name it
    bool input;
  };
  std::mutex files_mutex_;  // guards files_: any thread may open a file
  std::vector<FileId> files_;
  std::mutex say_mutex_;  // one say() at a time
  std::atomic<bool> say_failed_{false};
};
