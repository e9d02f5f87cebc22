// The files and arrays of a run.

#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "failure.h"

void ArrayFree::operator()(void* p) const { std::free(p); }

void* allocate_bytes(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  size_t bytes = count * size;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

bool InputFile::open(const char* name) {
  close();
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
  return true;
}

size_t InputFile::read(char* buf, size_t n) {
  size_t got = std::fread(buf, 1, n, fp);
  if (got == 0 && std::ferror(fp)) fail(path + ": cannot read: " + std::strerror(errno));
  return got;
}

void InputFile::close() {
  if (fp != nullptr) std::fclose(fp);
  fp = nullptr;
}

void OutFile::create(const char* name) {
  if (!open(name)) cannot_create(errno);
  empty();
}

bool OutFile::open(const char* name) {
  name_ = name;
  fd_ = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return false;
  set_outputs_created(true);
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
