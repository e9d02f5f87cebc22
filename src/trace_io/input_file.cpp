// Input tables.

#include "trace_io/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "trace_io/decompress.h"
#include "trace_io/failure.h"
#include "trace_io/run_state.h"

InputFile::InputFile() = default;
InputFile::~InputFile() { close(); }

bool InputFile::open(const char* name, bool one_thread) {
  close();
  one_thread_ = one_thread;
  fp = std::fopen(name, "r");
  if (fp == nullptr) return false;
  // A directory opens for reading but every read fails: treat it as an
  // input that cannot be opened.
  struct stat st;
  if (fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode)) {
    close();
    return false;
  }
  path = name;
  // What the file is now is what the run must read to its end.
  regular_ = S_ISREG(st.st_mode);
  if (regular_) stamp_ = {static_cast<uint64_t>(st.st_size), st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  return true;
}

void InputFile::open_or_fail(const std::string& name, RunState& run) {
  if (!open(name.c_str(), run.one_thread)) fail("can't open file " + name);
  run.note_input(fileno(fp), path);
}

bool InputFile::is_stream() {
  if (!started_) start_reading();
  return stream_;
}

uint64_t InputFile::text_size() {
  if (!started_) start_reading();
  return stream_ ? 0 : size_;
}

void InputFile::start_reading() {
  started_ = true;
  int fd = fileno(fp);
  struct stat st;
  if (fstat(fd, &st) != 0) fail(path + ": cannot read: " + std::strerror(errno));
  unsigned char head[kMagicBytes];
  size_t got = 0;
  if (S_ISREG(st.st_mode)) {
    size_ = static_cast<uint64_t>(st.st_size);
    // Looked at in place: a plain file is then read from its start.
    ssize_t n;
    do n = ::pread(fd, head, sizeof head, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) fail(path + ": cannot read: " + std::strerror(errno));
    got = static_cast<size_t>(n);
  } else {
    stream_ = true;
    // Taken from the stream, so kept and handed out again.
    while (got < sizeof head) {
      size_t n = read_fd(reinterpret_cast<char*>(head) + got, sizeof head - got);
      if (n == 0) break;
      got += n;
    }
    head_.assign(reinterpret_cast<const char*>(head), got);
  }
  Compression format = detect_compression(head, got);
  if (format != Compression::kNone) {
    stream_ = true;
    decoder_ = std::make_unique<Decompressor>(fd, format, path, head_, one_thread_,
                                              regular_ ? &stamp_ : nullptr);
    head_.clear();
  }
}

bool FileStamp::changed(int fd, uint64_t read) const {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;  // nothing known: as it was
  return read != size || static_cast<uint64_t>(st.st_size) != size ||
         st.st_ctim.tv_sec != ctime_sec || st.st_ctim.tv_nsec != ctime_nsec;
}

size_t InputFile::read_fd(char* buf, size_t n) {
  for (;;) {
    ssize_t got = ::read(fileno(fp), buf, n);
    if (got > 0 && regular_) read_ += static_cast<uint64_t>(got);
    if (got == 0 && regular_ && n > 0 && stamp_.changed(fileno(fp), read_))
      fail(path + ": the file changed while it was being read");
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) fail(path + ": cannot read: " + std::strerror(errno));
  }
}

size_t InputFile::read(char* buf, size_t n) {
  size_t got = read_text(buf, n);
  if (!at_text_start_) return got;
  // A UTF-8 byte-order mark is no part of the first time.
  static constexpr char kBom[] = "\xEF\xBB\xBF";
  constexpr size_t kBomSize = sizeof kBom - 1;
  at_text_start_ = false;
  while (got > 0 && got < kBomSize && n >= kBomSize) {
    size_t more = read_text(buf + got, n - got);
    if (more == 0) break;
    got += more;
  }
  if (got < kBomSize || std::memcmp(buf, kBom, kBomSize) != 0) return got;
  std::memmove(buf, buf + kBomSize, got - kBomSize);
  got -= kBomSize;
  return got > 0 ? got : read(buf, n);
}

size_t InputFile::read_text(char* buf, size_t n) {
  if (!started_) start_reading();
  if (decoder_) return decoder_->read(buf, n);
  if (head_pos_ < head_.size()) {
    size_t take = std::min(n, head_.size() - head_pos_);
    std::memcpy(buf, head_.data() + head_pos_, take);
    head_pos_ += take;
    return take;
  }
  return read_fd(buf, n);
}

bool InputFile::rewind() {
  if (!started_) start_reading();
  if (stream_) {
    errno = ESPIPE;
    return false;
  }
  at_text_start_ = true;
  read_ = 0;
  return ::lseek(fileno(fp), 0, SEEK_SET) == 0;
}

void InputFile::close() {
  decoder_.reset();
  if (fp != nullptr) std::fclose(fp);
  fp = nullptr;
  started_ = stream_ = regular_ = false;
  size_ = 0;
  read_ = 0;
  at_text_start_ = true;
  head_.clear();
  head_pos_ = 0;
}
