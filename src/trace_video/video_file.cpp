// Demuxing and remuxing with libavformat, the picture types from
// libavcodec's parsers. The calls follow FFmpeg's remuxing example; each
// context has one owner here and is released once.

#include "trace_video/video_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <new>

#include "trace_io/failure.h"

std::string av_reason(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(error, text, sizeof text);
  return text;
}

namespace {

double rate_of(AVRational r) {
  return r.num > 0 && r.den > 0 ? static_cast<double>(r.num) / r.den : 0;
}

FrameType type_of(int pict_type) {
  switch (pict_type) {
    case AV_PICTURE_TYPE_I:
    case AV_PICTURE_TYPE_SI:
      return FrameType::kI;
    case AV_PICTURE_TYPE_P:
    case AV_PICTURE_TYPE_SP:
    case AV_PICTURE_TYPE_S:
      return FrameType::kP;
    case AV_PICTURE_TYPE_B:
    case AV_PICTURE_TYPE_BI:
      return FrameType::kB;
    default:
      return FrameType::kUnknown;
  }
}

}  // namespace

VideoReader::VideoReader(const std::string& path, std::optional<double> fps) : path_(path) {
  int error = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
  if (error < 0) fail(path + ": cannot open: " + av_reason(error));
  error = avformat_find_stream_info(format_, nullptr);
  if (error < 0) fail(path + ": cannot read: " + av_reason(error));
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    AVStream* s = format_->streams[i];
    bool video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                 !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
    if (video && stream_ == nullptr)
      stream_ = s;
    else
      s->discard = AVDISCARD_ALL;  // not demuxed at all
  }
  if (stream_ == nullptr) fail(path + ": no video stream");
  packet_ = av_packet_alloc();
  if (packet_ == nullptr) throw std::bad_alloc();
  timed_ = !(format_->iformat->flags & AVFMT_NOTIMESTAMPS);
  double rate = fps ? *fps : rate_of(stream_->avg_frame_rate);
  if (rate <= 0) rate = rate_of(stream_->r_frame_rate);
  seconds_per_frame_ = rate > 0 ? 1 / rate : 0;
  parser_ = av_parser_init(stream_->codecpar->codec_id);
  if (parser_ != nullptr) {
    // Each packet is a whole frame: nothing is held back for the next.
    parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    codec_ = avcodec_alloc_context3(nullptr);
    if (codec_ == nullptr || avcodec_parameters_to_context(codec_, stream_->codecpar) < 0)
      throw std::bad_alloc();
  }
}

VideoReader::~VideoReader() {
  if (parser_ != nullptr) av_parser_close(parser_);
  avcodec_free_context(&codec_);
  av_packet_free(&packet_);
  avformat_close_input(&format_);
}

bool VideoReader::next(VideoFrame& frame) {
  for (;;) {
    av_packet_unref(packet_);
    int error = av_read_frame(format_, packet_);
    if (error == AVERROR_EOF) return false;
    if (error < 0) fail(path_ + ": cannot read: " + av_reason(error));
    if (packet_->stream_index == stream_->index) break;
  }
  int32_t f = count_++;
  if (f == 0 && packet_->dts == AV_NOPTS_VALUE) timed_ = false;
  if (f == 0) first_dts_ = packet_->dts;
  if (timed_ && packet_->dts == AV_NOPTS_VALUE)
    fail(path_ + ": packet " + std::to_string(f) + " of the video stream has no decode timestamp");
  if (!timed_ && seconds_per_frame_ <= 0)
    fail(path_ + ": the video stream has no timestamps and no frame rate; give --fps");
  frame.frame = f;
  frame.size = packet_->size;
  frame.key = packet_->flags & AV_PKT_FLAG_KEY;
  frame.pts_s.reset();
  frame.dts_s.reset();
  frame.pts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : INT64_MIN;
  frame.pts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : INT64_MIN;
  if (packet_->pts != AV_NOPTS_VALUE) frame.pts_s = seconds(packet_->pts);
  if (packet_->dts != AV_NOPTS_VALUE) frame.dts_s = seconds(packet_->dts);
  frame.offset_s = timed_ ? seconds(packet_->dts - first_dts_) : f * seconds_per_frame_;
  frame.type = parse_type();
  return true;
}

double VideoReader::seconds(int64_t ticks) const {
  // One rounding: ticks * num is exact for any timestamp of a real stream.
  return static_cast<double>(ticks * stream_->time_base.num) / stream_->time_base.den;
}

FrameType VideoReader::parse_type() {
  if (parser_ == nullptr || packet_->size <= 0) return FrameType::kUnknown;
  uint8_t* out = nullptr;
  int out_size = 0;
  parser_->pict_type = AV_PICTURE_TYPE_NONE;
  av_parser_parse2(parser_, codec_, &out, &out_size, packet_->data, packet_->size, AV_NOPTS_VALUE,
                   AV_NOPTS_VALUE, 0);
  return type_of(parser_->pict_type);
}

Remuxer::Remuxer(const std::string& path, const AVStream* input)
    : path_(path), in_num_(input->time_base.num), in_den_(input->time_base.den) {
  int error = avformat_alloc_output_context2(&format_, nullptr, nullptr, path.c_str());
  if (format_ == nullptr)
    fail(path + ": cannot create: no container for this name (" + av_reason(error) +
         "); name it .mp4, .mkv, .264 ...");
  stream_ = avformat_new_stream(format_, nullptr);
  copy_ = av_packet_alloc();
  if (stream_ == nullptr || copy_ == nullptr) throw std::bad_alloc();
  error = avcodec_parameters_copy(stream_->codecpar, input->codecpar);
  if (error < 0) fail_with("cannot create", error);
  stream_->codecpar->codec_tag = 0;  // the new container's own
  stream_->time_base = input->time_base;
  stream_->avg_frame_rate = input->avg_frame_rate;
  stream_->r_frame_rate = input->r_frame_rate;
  if (!(format_->oformat->flags & AVFMT_NOFILE)) {
    error = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (error < 0) fail_with("cannot create", error);
    open_ = true;
  }
  error = avformat_write_header(format_, nullptr);
  if (error < 0) fail_with("cannot write", error);
  header_ = true;
}

Remuxer::~Remuxer() {
  av_packet_free(&copy_);
  if (format_ != nullptr && open_) avio_closep(&format_->pb);
  avformat_free_context(format_);
}

void Remuxer::fail_with(const char* what, int error) const {
  fail(path_ + ": " + what + ": " + av_reason(error));
}

void Remuxer::write(const AVPacket* packet) {
  int error = av_packet_ref(copy_, packet);
  if (error < 0) fail_with("cannot write", error);
  av_packet_rescale_ts(copy_, AVRational{in_num_, in_den_}, stream_->time_base);
  copy_->stream_index = stream_->index;
  copy_->pos = -1;
  error = av_interleaved_write_frame(format_, copy_);  // takes the reference
  if (error < 0) fail_with("cannot write", error);
}

void Remuxer::finish() {
  int error = av_write_trailer(format_);
  if (error < 0) fail_with("cannot write", error);
  if (open_) {
    open_ = false;
    error = avio_closep(&format_->pb);
    if (error < 0) fail_with("cannot close", error);
  }
}
