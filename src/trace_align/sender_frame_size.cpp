// Sender frame summaries: the summed size of each run of adjacent packets
// of one frame, per sender trace, in sd0_frame_dat, sd1_frame_dat and
// sd2_frame_dat. No source column and no filled-in rows, unlike
// rd_frame_dat.

#include "trace_align/frame_runs.h"
#include "trace_align/outputs.h"
#include "trace_align/trace_file.h"
#include "trace_io/numbers.h"

namespace {

char* put_size_row(char* out, int32_t frame, uint32_t sum) {
  out = put_int_left16(out, frame);
  *out++ = ' ';
  out = put_int(out, static_cast<int32_t>(sum));
  *out++ = '\n';
  return out;
}

static_assert(16 + 1 + kMaxIntChars + 1 + kWriterScratch <= OutFile::kMaxLine);

}  // namespace

void TraceFile::create_sd_frame_size() {
  for (int src = 0; src < 3; ++src) {
    OutFile& out = sd_frame_fp[src];
    out.create(run_, kSdFrameDat[src]);
    for_each_frame_run(sd_list[src].get(), sd_num[src],
                       [&out](int32_t frame, uint32_t sum, const SdRecord*) {
                         out.commit(put_size_row(out.reserve(), frame, sum));
                       });
    out.close();
  }
}
