// Sender frame summaries: the summed size of each run of adjacent packets
// of one frame, per sender trace, in sd0_frame_dat, sd1_frame_dat and
// sd2_frame_dat. No source column and no filled-in rows, unlike
// rd_frame_dat.

#include "numbers.h"
#include "trace_file.h"

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
  static const char* const kNames[3] = {"sd0_frame_dat", "sd1_frame_dat", "sd2_frame_dat"};
  for (int src = 0; src < 3; ++src) {
    OutFile& out = sd_frame_fp[src];
    out.create(kNames[src]);
    // Starting at frame 0 means a trace that begins elsewhere gets a
    // leading (0, 0) row, which readers of these files expect.
    int32_t previous = 0;
    uint32_t sum = 0;  // sizes wrap modulo 2^32
    const SdRecord* list = sd_list[src].get();
    for (int32_t i = 0; i < sd_num[src]; ++i) {
      if (list[i].frame == previous) {
        sum += static_cast<uint32_t>(list[i].size);
      } else {
        out.commit(put_size_row(out.reserve(), previous, sum));
        sum = static_cast<uint32_t>(list[i].size);
        previous = list[i].frame;
      }
    }
    out.commit(put_size_row(out.reserve(), previous, sum));
    out.close();
  }
}
