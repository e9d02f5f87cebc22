// Input tables opened by path: text, gzip, zstd or xz, from regular files,
// pipes or devices, and a regular file refused when it changes while it is
// read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

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
