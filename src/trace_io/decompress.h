// Compressed traces: the format recognised by its first bytes (magic
// numbers, never the file name), and a decoder that runs on a thread of its
// own a few blocks ahead of the reader, so that decompressing overlaps with
// parsing.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class Compression { kNone, kGzip, kZstd, kXz };

// Bytes needed to recognise every format.
inline constexpr size_t kMagicBytes = 6;

// The format whose magic number head starts with; kNone for anything else.
Compression detect_compression(const unsigned char* head, size_t n);
// "gzip", "zstd", "xz".
const char* compression_name(Compression format);

class Codec;
struct FileStamp;

// Decodes the compressed stream read from fd, whose first bytes (already
// read from fd) are `head`, on a thread of its own unless one_thread. Errors, a truncated stream
// included, end the run when the reader reaches them: "PATH: cannot decompress (FORMAT): REASON".
class Decompressor {
 public:
  // stamp: fd is a regular file as stamped, refused when it changes
  // ("PATH: the file changed while it was being read").
  Decompressor(int fd, Compression format, std::string path, std::string head, bool one_thread,
               const FileStamp* stamp);
  ~Decompressor();  // stops the decoding thread
  // Up to n decoded bytes; 0 at the end of the stream.
  size_t read(char* buf, size_t n);

 private:
  struct Block {
    std::vector<char> data;
    size_t used = 0;          // bytes handed to the reader so far
    bool end = false;         // the last block: the stream ended cleanly
    std::string error;        // the last block: what went wrong instead
    bool read_error = false;  // error is a whole message about reading the file
  };
  Block decode_block();  // one block of output, or the end, or an error
  void produce();        // the decoding thread
  [[noreturn]] void fail_with(const std::string& reason) const;

  int fd_;
  Compression format_;
  std::string path_;
  std::unique_ptr<Codec> codec_;
  const FileStamp* stamp_;  // null for a stream
  uint64_t read_ = 0;       // bytes read from fd
  std::vector<char> in_;    // compressed bytes read, not yet decoded
  size_t in_pos_ = 0;
  bool in_eof_ = false;

  std::mutex mutex_;  // guards queue_ and stop_
  std::condition_variable changed_;
  std::deque<Block> queue_;  // decoded blocks the reader has not finished
  bool stop_ = false;
  std::thread thread_;  // not joinable: decoded on the reader's thread
  Block current_;       // the reader's block, when it decodes itself
  bool done_ = false;   // the reader has met the end
};
