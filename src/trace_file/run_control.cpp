// Run control: the entry sequence, the guards that come before any output
// file exists, and the start of the output stages.

#include "run_control.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include "failure.h"
#include "runner.h"
#include "trace_file.h"

namespace {

const char* const kOutputNames[] = {"rd_frame_dat",  "rd_trace",      "sd_trace",
                                    "sd0_frame_dat", "sd1_frame_dat", "sd2_frame_dat"};

void (*after_checks_hook)() = nullptr;

// An exclusive lock on the working directory itself, for the whole run:
// two runs in one directory would splice each other's outputs. Where the
// file system cannot lock, the run goes on as before.
class DirectoryLock {
 public:
  DirectoryLock() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
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
  int fd_;
};

// Writes text on standard output from a signal handler.
void write_safely(const char* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t done = ::write(1, text, n);
    if (done <= 0) return;
    text += done;
    n -= static_cast<size_t>(done);
  }
}

extern "C" void on_interrupt(int signal) {
  static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");
  write_safely(signal == SIGINT ? "interrupted by SIGINT" : signal == SIGTERM ? "interrupted by SIGTERM" : "interrupted by SIGHUP");
  if (outputs_created()) write_safely("; the outputs of this run are incomplete");
  write_safely("\n");
  // The default action, so that a shell loop stops as it would for any
  // interrupted program.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

bool is_null_or_full(const struct stat& st) {
  struct stat dev;
  for (const char* name : {"/dev/null", "/dev/full"})
    if (stat(name, &dev) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev.st_rdev) return true;
  return false;
}

// Where a one-thread run meets the two halves of the output start.
constexpr OneThreadOrder kEmptying{0, 0};
constexpr OneThreadOrder kSummaries{1, 0};

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

const char* help_or_version(int argc, char** argv) {
  if (argc != 2) return nullptr;
  if (std::strcmp(argv[1], "--help") == 0) return kUsage;
  if (std::strcmp(argv[1], "--version") == 0) return "trace_align " TRACE_ALIGN_VERSION "\n";
  return nullptr;
}

std::string run(int argc, char** argv) {
  try {
    set_outputs_created(false);
    if (argc != 5) return "check input files and try again";
    limit_threads_as_environment_asks();

    forget_files();
    InputFile inputs[4];
    for (int i = 0; i < 4; ++i) {
      inputs[i].open_or_fail(argv[i + 1]);
      note_input(fileno(inputs[i].fp), inputs[i].path);
    }
    DirectoryLock lock;
    refuse_inputs_among_outputs(inputs, 4);
    refuse_unwritable_outputs();
    if (after_checks_hook != nullptr) after_checks_hook();

    auto trace = std::make_unique<TraceFile>();
    trace->read_all(inputs);
    trace->start();
    return "";
  } catch (const RunFailure& failure) {
    return failure.message;
  } catch (const std::exception& e) {
    return failure_message(e);
  }
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

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void set_after_checks_hook(void (*hook)()) { after_checks_hook = hook; }

TraceFile::TraceFile() : rd_num(0), sd_num{0, 0, 0}, rd_frame_num(0), rd_id(0), sd_id(0) {}

void TraceFile::start() {
  sd_id = 0;
  rd_id = 0;
  // Both traces are opened before either is emptied, so that emptying them
  // (slow for the large files of an earlier run) goes on while the frame
  // sizes are written. Problems are still reported in creation order.
  if (!rd_trace_fp.open("rd_trace")) rd_trace_fp.cannot_create(errno);
  if (!sd_trace_fp.open("sd_trace")) {
    int error = errno;
    rd_trace_fp.empty();
    sd_trace_fp.cannot_create(error);
  }
  Outcome emptied, summaries;
  run_side_by_side(
      [&] {
        summaries = run_half(
            [&] {
              create_sd_frame_size();
              build_frame_index();
              indexed_ = true;
            },
            kSummaries);
      },
      [&] {
        emptied = run_half(
            [&] {
              rd_trace_fp.empty();
              sd_trace_fp.empty();
            },
            kEmptying);
      });
  rethrow_first_met(emptied, summaries);
  compare();
}
