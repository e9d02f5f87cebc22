// Cutting a video into sender-trace packets. One pass over the video's
// packets, every line written as it is made: memory does not grow with the
// video.
//
// A sender line is "time col1 frame size col4 col5" as trace_align reads
// it; trace_video writes col1 = the packet's id (0, 1, 2 ... over all
// sources, in send order), col4 = its place in its frame (0 first) and
// col5 = the number of packets of its frame. No command reads them.

#include "trace_video/send.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/table_output.h"
#include "trace_video/video_file.h"

namespace {

// Widest sender line: time, five integers, five spaces, newline.
static_assert(kMaxTimeChars + 5 * (1 + kMaxIntChars) + 1 + kWriterScratch <= OutFile::kMaxLine);

char* put_sender_line(char* out, double time, int32_t id, int32_t frame, int32_t size, int32_t k,
                      int32_t packets) {
  out = put_time(out, time);
  for (int32_t value : {id, frame, size, k, packets}) {
    *out++ = ' ';
    out = put_int(out, value);
  }
  *out++ = '\n';
  return out;
}

void make_directory(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0777) == 0) return;
  struct stat st;
  if (errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  fail(dir + ": cannot create: " + std::strerror(errno == EEXIST ? ENOTDIR : errno));
}

}  // namespace

int32_t packet_count(int32_t size, int32_t mtu) {
  if (size <= 0) return 1;
  return static_cast<int32_t>((int64_t{size} + mtu - 1) / mtu);
}

int32_t packet_payload(int32_t size, int32_t mtu, int32_t k) {
  int64_t rest = int64_t{size} - int64_t{k} * mtu;
  return static_cast<int32_t>(rest < mtu ? (rest > 0 ? rest : 0) : mtu);
}

void run_send(RunState& run, const SendOptions& options, const std::string& video,
              const std::string& outdir) {
  VideoInput input(run, video, false);  // no output may be VIDEO, nor a link to it
  VideoReader reader(video, options.fps);
  make_directory(outdir);
  run.claim_outputs({outdir + "/sd0", outdir + "/sd1", outdir + "/sd2", outdir + "/frames.csv"});
  OutFile sd[3];
  for (int s = 0; s < 3; ++s) sd[s].create(run, (outdir + "/sd" + std::to_string(s)).c_str());
  OutFile frames;
  std::string frames_path = outdir + "/frames.csv";
  frames.create(run, frames_path.c_str());
  frames.write(csv_header({"frame", "type", "key", "size", "pts_s", "dts_s", "packets", "source"}));

  int32_t id = 0;
  VideoFrame f;
  while (reader.next(f)) {
    int source = f.frame % options.sources;
    int32_t packets = packet_count(f.size, options.payload_bytes());
    double first = options.start + f.offset_s;
    for (int32_t k = 0; k < packets; ++k) {
      double time = first + k * options.gap;
      OutFile& to = sd[source];
      to.commit(put_sender_line(to.reserve(), time, id, f.frame,
                                packet_payload(f.size, options.payload_bytes(), k), k, packets));
      id = static_cast<int32_t>(static_cast<uint32_t>(id) + 1);  // wraps, as ids do
    }
    auto count = [](int64_t n) { return Field::number(std::to_string(n)); };
    frames.write(
        csv_row({count(f.frame), Field::number(std::string(1, static_cast<char>(f.type))),
                 count(f.key ? 1 : 0), count(f.size), Field::number(optional_number(f.pts_s)),
                 Field::number(optional_number(f.dts_s)), count(packets), count(source)}));
  }
  for (OutFile& s : sd) s.close();
  frames.close();
}
