// The files and arrays of a run: record arrays allocated once at their
// exact size, input tables opened by path, and buffered output files whose
// every failure ends the run naming the file and the system's reason, so
// that a full disk never passes unnoticed.
#pragma once

#include <cstddef>
#include <cstdint>
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
// The same, keeping the elements of p (as realloc); null, p untouched, on failure.
void* reallocate_bytes(void* p, size_t count, size_t size);
template <typename T>
Array<T> allocate_array(size_t count) {
  return Array<T>(static_cast<T*>(allocate_bytes(count, sizeof(T))));
}
// Resizes array to count elements, keeping the first ones; false, array
// untouched, when memory is short. For plain records only.
template <typename T>
bool resize_array(Array<T>& array, size_t count) {
  void* p = reallocate_bytes(array.get(), count, sizeof(T));
  if (p == nullptr) return false;
  array.release();
  array.reset(static_cast<T*>(p));
  return true;
}

class Decompressor;
class RunState;

// A regular file as it was when a run opened it: a file that another
// process shortens, lengthens or rewrites while it is read is refused, not
// taken for a shorter input.
struct FileStamp {
  uint64_t size = 0;
  int64_t ctime_sec = 0, ctime_nsec = 0;
  // True when fd, of which `read` bytes were read to its end, is no
  // longer the file stamped.
  bool changed(int fd, uint64_t read) const;
};

// An input table: its open stream and the path that names it in messages.
// Every input is read once; a regular file can be read again (count_lines
// rewinds it), anything else, a pipe, a device or a compressed file, is a
// stream that cannot.
struct InputFile {
  std::FILE* fp = nullptr;
  std::string path;
  // False when the path cannot be opened for reading or is a directory.
  // one_thread: a compressed input is decoded on the reading thread.
  bool open(const char* path, bool one_thread = false);
  // The same for a run, failing with "can't open file PATH"; the run notes
  // the file as one of its inputs.
  void open_or_fail(const std::string& path, RunState& run);
  // True when the input can be read only once. Recognises a compressed
  // file by its first bytes, reading them from a pipe.
  bool is_stream();
  // The size of a plain regular file's text as it was opened; 0 for a stream.
  uint64_t text_size();
  // Reads up to n bytes of text, decompressed; 0 at the end of the input;
  // fails on a read or decompression error.
  size_t read(char* buf, size_t n);
  // Back to the start of a regular file; false where that is impossible.
  bool rewind();
  void close();
  InputFile();
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

 private:
  void start_reading();
  size_t read_fd(char* buf, size_t n);
  size_t read_text(char* buf, size_t n);
  bool one_thread_ = false;
  bool regular_ = false;
  FileStamp stamp_;            // of a regular file, at open
  uint64_t read_ = 0;          // bytes read from a plain regular file
  bool at_text_start_ = true;  // a byte-order mark here is skipped
  bool started_ = false;
  bool stream_ = false;
  uint64_t size_ = 0;
  std::string head_;  // bytes read to recognise the format, handed out first
  size_t head_pos_ = 0;
  std::unique_ptr<Decompressor> decoder_;
};

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
  // Writes out what is buffered and closes; fails on error.
  void close();
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
