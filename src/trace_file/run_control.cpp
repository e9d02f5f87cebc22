// Run control: the trace set's construction, the start of the output
// stages and the end of the process, and the guards that come before any
// output file exists.

#include <sys/stat.h>

#include "trace_file.h"

namespace {

bool outputs_created = false;

const char* const kOutputNames[] = {"rd_frame_dat",  "rd_trace",      "sd_trace",
                                    "sd0_frame_dat", "sd1_frame_dat", "sd2_frame_dat"};

}  // namespace

void set_outputs_created(bool created) { outputs_created = created; }

void fail(const std::string& what) {
  // Outputs are truncated before they are filled: a failure after the first
  // one exists leaves the whole set unusable, and the user must know.
  if (outputs_created) end_run(what + "; the outputs of this run are incomplete");
  end_run(what);
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
  rd_trace_fp.create("rd_trace");
  sd_trace_fp.create("sd_trace");
  create_sd_frame_size();
  compare();
  rd_trace_fp.close();
  sd_trace_fp.close();
  // Status 1 after a completed run too: callers rely on it.
  end_run("");
}
