// Reading a video's frame times with libavformat: demuxed, never decoded.

#include "trace_net/video_times.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

#include "trace_io/failure.h"

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

}  // namespace

std::vector<int64_t> frame_times(RunState& run, const std::string& path, uint32_t clock) {
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
  error = avformat_find_stream_info(format.get(), nullptr);
  if (error < 0) fail(path + ": cannot read: " + reason(error));
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
