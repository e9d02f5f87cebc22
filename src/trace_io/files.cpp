// The files and arrays of a run.

#include "trace_io/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "trace_io/decompress.h"
#include "trace_io/failure.h"
#include "trace_io/run_state.h"

void ArrayFree::operator()(void* p) const { std::free(p); }

namespace {

// Record arrays are written once from start to end: on 2 MiB pages, the
// kernel takes one fault where it would take 512, and the array's memory is
// the same. Only the whole huge pages inside the array are advised; where
// the kernel has no such pages, the advice is ignored.
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
void advise_huge_pages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (p == nullptr || bytes < 2 * kHugePage) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace

void* allocate_bytes(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  size_t bytes = count * size;
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  advise_huge_pages(p, bytes);
  return p;
}

InputFile::InputFile() = default;
InputFile::~InputFile() { close(); }

void* reallocate_bytes(void* p, size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  size_t bytes = count * size;
  void* q = std::realloc(p, bytes == 0 ? 1 : bytes);
  advise_huge_pages(q, bytes);
  return q;
}

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

void OutFile::create(RunState& run, const char* name) {
  if (!open(run, name)) cannot_create(errno);
  empty();
}

bool OutFile::open(RunState& run, const char* name) {
  name_ = name;
  // Non-blocking, so that a FIFO put in an output's place is refused
  // instead of waiting forever for a reader.
  fd_ = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ < 0 && errno == ENXIO) {
    fd_ = -1;
    fail(name_ + ": cannot create: not a regular file");
  }
  if (fd_ < 0) return false;
  struct stat st;
  if (fstat(fd_, &st) != 0) return false;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    fail(name_ + ": cannot create: not a regular file");
  }
  regular_ = S_ISREG(st.st_mode);
  if (regular_) {
    std::string refused = run.note_output(st.st_dev, st.st_ino, name_);
    if (!refused.empty()) {
      ::close(fd_);
      fd_ = -1;
      fail(refused);
    }
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  run.outputs_created = true;
  if (!buf_) buf_.reset(new char[kBufSize]);
  len_ = 0;
  return true;
}

void OutFile::empty() {
  // Only a regular file has a length to cut; a device or pipe is written
  // as it is, as opening it with O_TRUNC would.
  struct stat st;
  if (fstat(fd_, &st) != 0) cannot_create(errno);
  if (S_ISREG(st.st_mode) && st.st_size != 0 && ftruncate(fd_, 0) != 0) cannot_create(errno);
}

void OutFile::cannot_create(int error) const {
  fail(name_ + ": cannot create: " + std::strerror(error));
}

void OutFile::flush() {
  size_t done = 0;
  while (done < len_) {
    ssize_t n = ::write(fd_, buf_.get() + done, len_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(name_ + ": cannot write: " + std::strerror(n < 0 ? errno : EIO));
    done += static_cast<size_t>(n);
  }
  len_ = 0;
}

void OutFile::close() {
  flush();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(name_ + ": cannot close: " + std::strerror(errno));
}

OutFile::~OutFile() {
  if (fd_ >= 0) ::close(fd_);
}
