// Run control: the entry sequence, the guards that come before any output
// file exists, and the start of the output stages.

#include "run_control.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "failure.h"
#include "runner.h"
#include "trace_file.h"

namespace {

const char* const kOutputNames[] = {"rd_frame_dat",  "rd_trace",      "sd_trace",
                                    "sd0_frame_dat", "sd1_frame_dat", "sd2_frame_dat"};

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
    const char* threads = std::getenv("TRACE_ALIGN_THREADS");
    limit_to_one_thread(threads != nullptr && std::strcmp(threads, "1") == 0);

    InputFile inputs[4];
    for (int i = 0; i < 4; ++i) {
      if (!inputs[i].open(argv[i + 1])) return std::string("can't open file ") + argv[i + 1];
    }
    refuse_inputs_among_outputs(inputs, 4);

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
