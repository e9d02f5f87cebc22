// Reading a video's frame times with libavformat: demuxed, never decoded.

#include "trace_net/video_times.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "trace_io/command_line.h"
#include "trace_io/failure.h"
#include "trace_io/files.h"

namespace trace_net {

namespace {

struct Release {
  void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

std::string reason(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

constexpr char kFrameTable[] = "frame,type,key,size,pts_s,";

// The times from the frame table trace_video send writes, which saves
// reading the video itself.
std::vector<int64_t> table_times(RunState& run, const std::string& path, uint32_t clock) {
  InputFile in;
  in.open_or_fail(path, run);
  std::string text;
  char buf[1 << 16];
  for (size_t got; (got = in.read(buf, sizeof buf)) > 0;) text.append(buf, got);
  std::vector<int64_t> times;
  size_t at = text.find('\n');
  for (size_t line = 2; at != std::string::npos && at + 1 < text.size(); ++line) {
    size_t end = text.find('\n', at + 1);
    std::string row = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    at = end;
    if (!row.empty() && row.back() == '\r') row.pop_back();
    if (row.empty()) continue;
    size_t start = 0;
    for (int comma = 0; comma < 4 && start != std::string::npos; ++comma) {
      start = row.find(',', start);
      if (start != std::string::npos) ++start;
    }
    std::string cell = start == std::string::npos ? "" : row.substr(start, row.find(',', start) - start);
    double seconds = 0;
    if (cell.empty() || !parse_decimal(cell.c_str(), &seconds))
      fail(path + ":" + std::to_string(line) + ": frame " + std::to_string(times.size()) +
           " has no presentation time (pts_s)");
    times.push_back(std::llround(seconds * clock));
  }
  if (times.empty()) fail(path + ": no video frame");
  return times;
}

bool is_frame_table(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char head[sizeof kFrameTable - 1];
  bool table = std::fread(head, 1, sizeof head, f) == sizeof head &&
               std::memcmp(head, kFrameTable, sizeof head) == 0;
  std::fclose(f);
  return table;
}

}  // namespace

std::vector<int64_t> frame_times(RunState& run, const std::string& path, uint32_t clock) {
  if (is_frame_table(path)) return table_times(run, path, clock);
  // Noted as an input, so that no output of the run overwrites it; a FIFO
  // is not opened blocking just for that.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    run.note_input(fd, path);
    ::close(fd);
  }
  AVFormatContext* opened = nullptr;
  int error = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
  if (error < 0) fail(path + ": cannot open: " + reason(error));
  std::unique_ptr<AVFormatContext, Release> format(opened);
  // Only the container's times are wanted: the streams are probed
  // (decoding a few frames) only when the header does not say which one
  // is video.
  auto first_video = [&]() -> AVStream* {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      AVStream* s = format->streams[i];
      if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) return s;
    }
    return nullptr;
  };
  if (first_video() == nullptr) {
    error = avformat_find_stream_info(format.get(), nullptr);
    if (error < 0) fail(path + ": cannot read: " + reason(error));
  }
  AVStream* stream = nullptr;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    AVStream* s = format->streams[i];
    bool video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
    if (video && stream == nullptr)
      stream = s;
    else
      s->discard = AVDISCARD_ALL;
  }
  if (stream == nullptr) fail(path + ": no video stream");
  std::unique_ptr<AVPacket, Release> packet(av_packet_alloc());
  if (!packet) fail_out_of_memory("cannot allocate memory");
  std::vector<int64_t> times;
  const AVRational ticks{1, static_cast<int>(clock)};
  for (;;) {
    error = av_read_frame(format.get(), packet.get());
    if (error == AVERROR_EOF) break;
    if (error < 0) fail(path + ": cannot read: " + reason(error));
    if (packet->stream_index == stream->index) {
      if (packet->pts == AV_NOPTS_VALUE)
        fail(path + ": frame " + std::to_string(times.size()) +
             " has no presentation time; an RTP stream's frames can be found only in a video whose "
             "container times them (MP4, MKV ...)");
      times.push_back(av_rescale_q(packet->pts, stream->time_base, ticks));
    }
    av_packet_unref(packet.get());
  }
  if (times.empty()) fail(path + ": no video frame");
  return times;
}

}  // namespace trace_net
