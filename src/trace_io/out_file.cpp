// Output files.

#include "trace_io/out_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trace_io/failure.h"
#include "trace_io/run_state.h"

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

void OutFile::rewind() {
  len_ = 0;
  if (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0)
    fail(name_ + ": cannot write: " + std::strerror(errno));
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

void OutFile::write(const void* data, size_t n) {
  const char* bytes = static_cast<const char*>(data);
  for (size_t at = 0; at < n; at += kMaxLine) {
    size_t take = std::min(n - at, kMaxLine);
    char* p = reserve();
    std::memcpy(p, bytes + at, take);
    commit(p + take);
  }
}

void check_can_create(const std::string& path) {
  struct stat st;
  int error = 0;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
      fail(path + ": cannot create: not a regular file");
    if (S_ISDIR(st.st_mode))
      error = EISDIR;
    else if (::access(path.c_str(), W_OK) != 0)
      error = errno;
  } else if (errno != ENOENT) {
    error = errno;
  } else {
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::access(dir.c_str(), W_OK | X_OK) != 0) error = errno;
  }
  if (error != 0) fail(path + ": cannot create: " + std::strerror(error));
}

void write_text_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int error = errno;
  if (f != nullptr && std::fclose(f) != 0) {
    written = false;
    error = errno;
  }
  if (!written) fail_write(path, error);
}
