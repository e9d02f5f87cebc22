// The files and arrays of a run: record arrays allocated once at their
// exact size, input traces opened by path, and buffered output files whose
// every failure ends the run naming the file and the system's reason, so
// that a full disk never passes unnoticed.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// Arrays of records, released only by the process exit (or in tests).
struct ArrayFree {
  void operator()(void* p) const;
};
template <typename T>
using Array = std::unique_ptr<T[], ArrayFree>;
// Uninitialised room for count elements of size bytes; null when the size
// overflows or memory is short.
void* allocate_bytes(size_t count, size_t size);
template <typename T>
Array<T> allocate_array(size_t count) {
  return Array<T>(static_cast<T*>(allocate_bytes(count, sizeof(T))));
}

// An input trace: its open stream and the path that names it in messages.
struct InputFile {
  std::FILE* fp = nullptr;
  std::string path;
  // False when the path cannot be opened for reading or is a directory.
  bool open(const char* path);
  // Reads up to n bytes; 0 at the end of the file; fails on a read error.
  size_t read(char* buf, size_t n);
  void close();
  ~InputFile() { close(); }
};

// A buffered output file in the working directory. Each on its own cache
// line: two threads write two files at once.
class alignas(64) OutFile {
 public:
  // Room one formatted line may take; every writer's widest line must fit.
  static constexpr size_t kMaxLine = 1024;
  // Opens name for writing, creating it, and empties it; fails on error.
  void create(const char* name);
  // The two halves of create: emptying a large file releases all its pages
  // and blocks, which takes a while that another thread can spend. open
  // returns false, with errno set, where create would fail.
  bool open(const char* name);
  void empty();
  [[noreturn]] void cannot_create(int error) const;
  // Room for at most kMaxLine bytes; hand the end of what was written to commit.
  char* reserve() {
    if (kBufSize - len_ < kMaxLine) flush();
    return buf_.get() + len_;
  }
  void commit(const char* end) { len_ = static_cast<size_t>(end - buf_.get()); }
  // Writes out what is buffered and closes; fails on error.
  void close();
  ~OutFile();

 private:
  static constexpr size_t kBufSize = size_t{1} << 20;
  static_assert(kBufSize >= kMaxLine);
  void flush();
  int fd_ = -1;
  std::string name_;
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0;
};
