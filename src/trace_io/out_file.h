// Buffered output files whose every failure ends the run naming the file
// and the system's reason, so that a full disk never passes unnoticed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class RunState;

// A buffered output file in the working directory. Each on its own cache
// line: two threads write two files at once.
class alignas(64) OutFile {
 public:
  // Room one formatted line may take; every writer's widest line must fit.
  static constexpr size_t kMaxLine = 1024;
  // Opens name for writing, creating it, and empties it; fails on error.
  // The run notes it as created and as one of its outputs.
  void create(RunState& run, const char* name);
  // The two halves of create: emptying a large file releases all its pages
  // and blocks, which takes a while that another thread can spend. open
  // returns false, with errno set, where create would fail; it fails itself
  // when the file is not one to write (a pipe, a socket, an input, another
  // output).
  bool open(RunState& run, const char* name);
  void empty();
  [[noreturn]] void cannot_create(int error) const;
  // Room for at most kMaxLine bytes; hand the end of what was written to commit.
  char* reserve() {
    if (kBufSize - len_ < kMaxLine) flush();
    return buf_.get() + len_;
  }
  void commit(const char* end) { len_ = static_cast<size_t>(end - buf_.get()); }
  // Writes n bytes of data, of any length.
  void write(const void* data, size_t n);
  void write(std::string_view text) { write(text.data(), text.size()); }
  // Writes out what is buffered and closes; fails on error.
  void close();
  // Drops everything written so far and starts the file again, empty;
  // only for a regular file.
  void rewind();
  // True when the file opened is a regular file (not a device).
  bool is_regular() const { return regular_; }
  ~OutFile();

 private:
  static constexpr size_t kBufSize = size_t{1} << 18;
  static_assert(kBufSize >= kMaxLine);
  void flush();
  int fd_ = -1;
  std::string name_;
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0;
  bool regular_ = false;
};

// Fails as OutFile::create would ("NAME: cannot create: REASON") when path
// could not be created or written now, creating and changing nothing: for
// a run that writes its outputs only after a long computation.
void check_can_create(const std::string& path);

// Writes text into the file path, created or emptied; fails in the
// program's voice: "cannot write PATH: REASON".
void write_text_file(const std::string& path, const std::string& text);
