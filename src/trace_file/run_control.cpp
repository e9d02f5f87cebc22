// Run control: the trace set's construction, the start of the output
// stages and the end of the process, the guards that come before any
// output file exists, and the running of two halves of a stage on two
// threads with failures reported in one-thread order.

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <system_error>
#include <thread>

#include "trace_file.h"

namespace {

std::atomic<bool> outputs_created{false};
// Set while a job of run_side_by_side runs on this thread: a failure is
// then handed back to the job's caller instead of ending the process under
// the other thread's feet.
thread_local bool hold_failures = false;

void run_job(const std::function<void()>& job, JobResult& result) {
  hold_failures = true;
  try {
    job();
  } catch (const RunEnded& end) {
    result = {true, end.message};
  } catch (const std::exception& e) {
    result = {true, std::string("trace_align: ") + e.what()};
  } catch (...) {
    result = {true, "trace_align: unexpected failure"};
  }
  hold_failures = false;
}

const char* const kOutputNames[] = {"rd_frame_dat",  "rd_trace",      "sd_trace",
                                    "sd0_frame_dat", "sd1_frame_dat", "sd2_frame_dat"};

}  // namespace

void set_outputs_created(bool created) { outputs_created = created; }

void fail(const std::string& what) {
  // Outputs are truncated before they are filled: a failure after the first
  // one exists leaves the whole set unusable, and the user must know.
  std::string message = outputs_created ? what + "; the outputs of this run are incomplete" : what;
  if (hold_failures) throw RunEnded{message};
  end_run(message);
}

void run_side_by_side(const std::function<void()>& first, JobResult& first_result,
                      const std::function<void()>& second, JobResult& second_result) {
  std::thread helper;
  try {
    helper = std::thread(run_job, std::cref(second), std::ref(second_result));
  } catch (const std::system_error&) {
    // No thread to spare (a process limit, say): one after the other.
  }
  run_job(first, first_result);
  if (helper.joinable())
    helper.join();
  else
    run_job(second, second_result);
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

TraceFile::TraceFile()
    : rd_num(0), sd_num{0, 0, 0}, rd_frame_num(0), rd_id(0), sd_id(0) {}

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
  JobResult summaries, emptied;
  run_side_by_side(
      [&] {
        create_sd_frame_size();
        build_frame_index();
      },
      summaries,
      [&] {
        rd_trace_fp.empty();
        sd_trace_fp.empty();
      },
      emptied);
  if (emptied.failed) end_run(emptied.message);
  if (summaries.failed) end_run(summaries.message);
  // What compare does, each trace closed as soon as its walk is done.
  write_traces(true);
  // Status 1 after a completed run too: callers rely on it.
  end_run("");
}
