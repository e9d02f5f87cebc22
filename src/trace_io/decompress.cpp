// Decoding gzip, zstd and xz streams with zlib, libzstd and liblzma. Every
// format may hold several members or frames one after the other, as their
// command-line tools write them when files are concatenated; the stream must
// end exactly at the end of one, or it was cut short.

#include "trace_io/decompress.h"

#include <lzma.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>

#include "trace_io/failure.h"
#include "trace_io/files.h"

namespace {

// Decoded bytes per block handed to the reader, and blocks decoded ahead of it.
constexpr size_t kDecodedBlock = size_t{1} << 20;
constexpr size_t kBlocksAhead = 4;
// Compressed bytes read from the file at a time.
constexpr size_t kCompressedRead = size_t{256} << 10;

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
constexpr unsigned char kXzMagic[] = {0xfd, '7', 'z', 'X', 'Z', 0x00};

template <size_t N>
bool starts_with(const unsigned char* head, size_t n, const unsigned char (&magic)[N]) {
  return n >= N && std::memcmp(head, magic, N) == 0;
}

const char* lzma_reason(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR:
      return "out of memory";
    case LZMA_MEMLIMIT_ERROR:
      return "memory usage limit reached";
    case LZMA_FORMAT_ERROR:
      return "file format not recognized";
    case LZMA_OPTIONS_ERROR:
      return "unsupported compression options";
    case LZMA_DATA_ERROR:
      return "compressed data is corrupt";
    case LZMA_BUF_ERROR:
      return "unexpected end of file";
    default:
      return "internal error";
  }
}

}  // namespace

namespace {
// A zstd skippable frame (what pzstd writes first): 0x184D2A50 to
// 0x184D2A5F, little-endian.
bool is_zstd_skippable(const unsigned char* head, size_t n) {
  return n >= 4 && (head[0] & 0xF0) == 0x50 && head[1] == 0x2A && head[2] == 0x4D &&
         head[3] == 0x18;
}
}  // namespace

Compression detect_compression(const unsigned char* head, size_t n) {
  if (starts_with(head, n, kGzipMagic)) return Compression::kGzip;
  if (starts_with(head, n, kZstdMagic) || is_zstd_skippable(head, n)) return Compression::kZstd;
  if (starts_with(head, n, kXzMagic)) return Compression::kXz;
  return Compression::kNone;
}

const char* compression_name(Compression format) {
  switch (format) {
    case Compression::kGzip:
      return "gzip";
    case Compression::kZstd:
      return "zstd";
    case Compression::kXz:
      return "xz";
    case Compression::kNone:
      break;
  }
  return "none";
}

// One decoding library behind one step function.
class Codec {
 public:
  struct Step {
    size_t in_used = 0;
    size_t out_made = 0;
    bool member_end = false;  // a whole member or frame decoded and flushed
    std::string error;        // the library's reason, when it failed
  };

  explicit Codec(Compression format) : format_(format) {
    switch (format_) {
      case Compression::kGzip:
        zlib_ = {};
        // 15 window bits, + 16: a gzip header and trailer, nothing else.
        if (inflateInit2(&zlib_, 15 + 16) != Z_OK) throw std::bad_alloc();
        break;
      case Compression::kZstd:
        zstd_ = ZSTD_createDStream();
        if (zstd_ == nullptr) throw std::bad_alloc();
        break;
      case Compression::kXz:
        xz_ = LZMA_STREAM_INIT;
        if (lzma_stream_decoder(&xz_, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
          throw std::bad_alloc();
        break;
      case Compression::kNone:
        break;
    }
  }
  ~Codec() {
    switch (format_) {
      case Compression::kGzip:
        inflateEnd(&zlib_);
        break;
      case Compression::kZstd:
        ZSTD_freeDStream(zstd_);
        break;
      case Compression::kXz:
        lzma_end(&xz_);
        break;
      case Compression::kNone:
        break;
    }
  }
  Codec(const Codec&) = delete;
  Codec& operator=(const Codec&) = delete;

  // Decodes from in into out; `finish` when no more input will come.
  Step step(const char* in, size_t in_n, char* out, size_t out_n, bool finish) {
    Step s;
    switch (format_) {
      case Compression::kGzip: {
        if (between_members_) {
          // Zero bytes after a member are padding (tape blocks, say), as
          // gzip -d takes them.
          size_t zeros = 0;
          while (zeros < in_n && in[zeros] == 0) ++zeros;
          if (zeros > 0) {
            s.in_used = zeros;
            s.member_end = true;
            break;
          }
        }
        between_members_ = false;
        zlib_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
        zlib_.avail_in = static_cast<uInt>(in_n);
        zlib_.next_out = reinterpret_cast<Bytef*>(out);
        zlib_.avail_out = static_cast<uInt>(out_n);
        int ret = inflate(&zlib_, Z_NO_FLUSH);
        s.in_used = in_n - zlib_.avail_in;
        s.out_made = out_n - zlib_.avail_out;
        if (ret == Z_STREAM_END) {
          s.member_end = true;
          between_members_ = true;
          inflateReset(&zlib_);  // for a member that may follow
        } else if (ret != Z_OK && ret != Z_BUF_ERROR) {
          s.error = zlib_.msg != nullptr ? zlib_.msg : zError(ret);
        }
        break;
      }
      case Compression::kZstd: {
        ZSTD_inBuffer input{in, in_n, 0};
        ZSTD_outBuffer output{out, out_n, 0};
        size_t ret = ZSTD_decompressStream(zstd_, &output, &input);
        s.in_used = input.pos;
        s.out_made = output.pos;
        if (ZSTD_isError(ret))
          s.error = ZSTD_getErrorName(ret);
        else
          s.member_end = ret == 0;  // the frame is complete and flushed
        break;
      }
      case Compression::kXz: {
        xz_.next_in = reinterpret_cast<const uint8_t*>(in);
        xz_.avail_in = in_n;
        xz_.next_out = reinterpret_cast<uint8_t*>(out);
        xz_.avail_out = out_n;
        lzma_ret ret = lzma_code(&xz_, finish ? LZMA_FINISH : LZMA_RUN);
        s.in_used = in_n - xz_.avail_in;
        s.out_made = out_n - xz_.avail_out;
        if (ret == LZMA_STREAM_END)
          s.member_end = true;  // concatenated streams: the whole input
        else if (ret != LZMA_OK && !(ret == LZMA_BUF_ERROR && !finish))
          s.error = lzma_reason(ret);
        break;
      }
      case Compression::kNone:
        break;
    }
    return s;
  }

 private:
  Compression format_;
  z_stream zlib_{};
  bool between_members_ = false;  // a gzip member has just ended
  ZSTD_DStream* zstd_ = nullptr;
  lzma_stream xz_ = LZMA_STREAM_INIT;
};

Decompressor::Decompressor(int fd, Compression format, std::string path, std::string head,
                           bool one_thread, const FileStamp* stamp)
    : fd_(fd),
      format_(format),
      path_(std::move(path)),
      codec_(new Codec(format)),
      stamp_(stamp),
      in_(head.begin(), head.end()) {
  if (one_thread) return;
  try {
    thread_ = std::thread(&Decompressor::produce, this);
  } catch (const std::system_error&) {
    // No thread to spare: the reader decodes as it goes.
  }
}

Decompressor::~Decompressor() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Decompressor::fail_with(const std::string& reason) const {
  fail(path_ + ": cannot decompress (" + compression_name(format_) + "): " + reason);
}

Decompressor::Block Decompressor::decode_block() {
  Block block;
  try {
    block.data.resize(kDecodedBlock);
  } catch (const std::bad_alloc&) {
    block.data.clear();
    block.error = "out of memory";
    return block;
  }
  size_t made = 0;
  bool member_done = false;  // the last step ended a member
  bool stuck = false;        // the last step made no progress
  while (made < block.data.size()) {
    if ((in_pos_ == in_.size() || stuck) && !in_eof_) {
      // Keep what is not decoded yet, then read more after it.
      in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(in_pos_));
      in_pos_ = 0;
      size_t have = in_.size();
      in_.resize(have + kCompressedRead);
      ssize_t n;
      do n = ::read(fd_, in_.data() + have, kCompressedRead);
      while (n < 0 && errno == EINTR);
      if (n < 0) {
        block.data.resize(made);
        block.error = path_ + ": cannot read: " + std::strerror(errno);
        block.read_error = true;
        return block;
      }
      in_.resize(have + static_cast<size_t>(n));
      in_eof_ = n == 0;
      read_ += static_cast<uint64_t>(n);
      if (in_eof_ && stamp_ != nullptr && stamp_->changed(fd_, read_)) {
        block.data.resize(made);
        block.error = path_ + ": the file changed while it was being read";
        block.read_error = true;
        return block;
      }
    }
    bool finish = in_eof_;  // all the input there is, is in in_
    if (finish && member_done && in_pos_ == in_.size()) {
      block.end = true;  // the input ends right after a whole member
      break;
    }
    Codec::Step s = codec_->step(in_.data() + in_pos_, in_.size() - in_pos_,
                                 block.data.data() + made, block.data.size() - made, finish);
    in_pos_ += s.in_used;
    made += s.out_made;
    if (!s.error.empty()) {
      block.data.resize(made);
      block.error = s.error;
      return block;
    }
    stuck = s.in_used == 0 && s.out_made == 0 && !s.member_end;
    if (!stuck) member_done = s.member_end;
    if (s.member_end && format_ == Compression::kXz) {
      block.end = true;
      break;
    }
    if (stuck && finish) {
      block.data.resize(made);
      block.error = "unexpected end of file";
      return block;
    }
  }
  block.data.resize(made);
  return block;
}

void Decompressor::produce() {
  for (;;) {
    Block block = decode_block();
    bool last = block.end || !block.error.empty();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || queue_.size() < kBlocksAhead; });
    if (stop_) return;
    queue_.push_back(std::move(block));
    changed_.notify_all();
    if (last) return;
  }
}

size_t Decompressor::read(char* buf, size_t n) {
  while (current_.used == current_.data.size()) {
    if (done_) return 0;
    if (current_.end) {
      done_ = true;
      return 0;
    }
    if (!current_.error.empty()) {
      if (current_.read_error) fail(current_.error);
      fail_with(current_.error);
    }
    if (thread_.joinable()) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return !queue_.empty(); });
      current_ = std::move(queue_.front());
      queue_.pop_front();
      changed_.notify_all();
    } else {
      current_ = decode_block();
    }
  }
  size_t take = std::min(n, current_.data.size() - current_.used);
  std::memcpy(buf, current_.data.data() + current_.used, take);
  current_.used += take;
  return take;
}
