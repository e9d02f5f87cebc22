// Run control: the entry sequence, the guards that come before any output
// file exists, the signals and the end of the process.

#include "trace_align/run_control.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "trace_align/outputs.h"
#include "trace_align/trace_file.h"
#include "trace_io/failure.h"

namespace {

// An exclusive lock for the whole run, on a file named after the working
// directory: two runs in one directory would splice each other's outputs.
// Not on the directory itself, which users lock with flock(1) to
// serialise their own runs. Where there is no such file to lock, the run
// goes on as before.
class DirectoryLock {
 public:
  DirectoryLock() {
    std::string path = run_lock_path();
    if (path.empty()) return;
    // Read-only, not following a link: another user's file does no harm.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) return;
    int result;
    do result = flock(fd_, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0 && errno == EWOULDBLOCK) {
      ::close(fd_);
      fd_ = -1;
      fail("another trace_align run is writing in this directory");
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_ = -1;
};

bool is_null_or_full(const struct stat& st) {
  struct stat dev;
  for (const char* name : {"/dev/null", "/dev/full"})
    if (stat(name, &dev) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev.st_rdev) return true;
  return false;
}

constexpr const char* kUsage =
    "usage: trace_align SD0 SD1 SD2 RD\n"
    "Lines up three sender traces and a receiver trace frame by frame.\n"
    "\n"
    "inputs (text, gzip, zstd or xz; regular files, pipes or devices):\n"
    "  SD0, SD1, SD2  sender traces of sources 0, 1, 2: time col1 frame size col4 col5\n"
    "  RD             receiver trace: time src frame size col4\n"
    "\n"
    "outputs, created in the current directory:\n"
    "  rd_frame_dat   per frame: frame, source, summed size received\n"
    "  sd0_frame_dat, sd1_frame_dat, sd2_frame_dat\n"
    "                 per sender trace: frame, summed size sent\n"
    "  sd_trace       the sent packets, frame by frame\n"
    "  rd_trace       the received packets, frame by frame, and a lost line\n"
    "                 for each packet of a frame that never arrived\n"
    "\n"
    "Messages go to standard output; the exit status is 1 on every path.\n"
    "Full description: man trace_align\n";

}  // namespace

std::string run_lock_path() {
  struct stat dir;
  if (::stat(".", &dir) != 0) return "";
  return "/tmp/trace_align-" + std::to_string(static_cast<uint64_t>(dir.st_dev)) + "-" +
         std::to_string(static_cast<uint64_t>(dir.st_ino)) + ".lock";
}

const char* help_or_version(int argc, char** argv) {
  if (argc != 2) return nullptr;
  if (std::strcmp(argv[1], "--help") == 0) return kUsage;
  if (std::strcmp(argv[1], "--version") == 0) return "trace_align " TRACE_ALIGN_VERSION "\n";
  return nullptr;
}

std::string run(int argc, char** argv, RunState& state, const std::function<void()>& after_checks) {
  if (argc != 5) return "check input files and try again";
  std::string message = failure_message_of(state.program, [&] {
    InputFile inputs[4];
    for (int i = 0; i < 4; ++i) inputs[i].open_or_fail(argv[i + 1], state);
    DirectoryLock lock;
    refuse_inputs_among_outputs(inputs, 4);
    refuse_unwritable_outputs();
    if (after_checks) after_checks();

    auto trace = std::make_unique<TraceFile>(state);
    trace->read_all(inputs);
    trace->start();
  });
  return message.empty() ? message : state.failure_text(message);
}

void refuse_inputs_among_outputs(const InputFile* inputs, int count) {
  for (const char* name : kOutputNames) {
    struct stat out;
    if (stat(name, &out) != 0) continue;
    for (int i = 0; i < count; ++i) {
      struct stat in;
      if (fstat(fileno(inputs[i].fp), &in) != 0) continue;
      if (in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        fail("input file " + inputs[i].path + " is the output file " + name +
             " of this run; refusing to overwrite it");
    }
  }
}

void refuse_unwritable_outputs() {
  for (const char* name : kOutputNames) {
    struct stat st;
    if (stat(name, &st) != 0) continue;
    bool read_back = std::strcmp(name, "rd_frame_dat") == 0;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ||
        (read_back && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !is_null_or_full(st)))
      fail(std::string(name) + ": cannot create: not a regular file");
  }
}

void end_run(const RunState& state, const std::string& message) {
  if (!message.empty()) {
    std::fputs(message.c_str(), stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0 || !state.said_all())
    std::fputs("trace_align: cannot write to standard output\n", stderr);
  std::exit(1);
}
