// Demuxing and remuxing with libavformat, the picture types from
// libavcodec's parsers. The calls follow FFmpeg's remuxing example; each
// context has its owner (av_owners.h) from the moment it is made.

#include "trace_video/video_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

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
  AVFormatContext* opened = nullptr;
  int error = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
  if (error < 0) fail(path + ": cannot open: " + av_reason(error));
  format_.reset(opened);
  error = avformat_find_stream_info(format_.get(), nullptr);
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
  packet_.reset(allocated(av_packet_alloc()));
  timed_ = !(format_->iformat->flags & AVFMT_NOTIMESTAMPS);
  double rate = fps ? *fps : rate_of(stream_->avg_frame_rate);
  if (rate <= 0) rate = rate_of(stream_->r_frame_rate);
  seconds_per_frame_ = rate > 0 ? 1 / rate : 0;
  parser_.reset(av_parser_init(stream_->codecpar->codec_id));
  if (parser_) {
    // Each packet is a whole frame: nothing is held back for the next.
    parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    codec_.reset(allocated(avcodec_alloc_context3(nullptr)));
    error = avcodec_parameters_to_context(codec_.get(), stream_->codecpar);
    if (error < 0) fail(path + ": cannot read: " + av_reason(error));
  }
}

bool VideoReader::next(VideoFrame& frame) {
  for (;;) {
    av_packet_unref(packet_.get());
    int error = av_read_frame(format_.get(), packet_.get());
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
  if (!parser_ || packet_->size <= 0) return FrameType::kUnknown;
  uint8_t* out = nullptr;
  int out_size = 0;
  parser_->pict_type = AV_PICTURE_TYPE_NONE;
  av_parser_parse2(parser_.get(), codec_.get(), &out, &out_size, packet_->data, packet_->size, AV_NOPTS_VALUE,
                   AV_NOPTS_VALUE, 0);
  return type_of(parser_->pict_type);
}

Remuxer::Remuxer(RunState& run, const std::string& path, const AVStream* input)
    : path_(path), in_num_(input->time_base.num), in_den_(input->time_base.den) {
  run.claim_output(path);  // an input or another output is refused before it is emptied
  AVFormatContext* made = nullptr;
  int error = avformat_alloc_output_context2(&made, nullptr, nullptr, path.c_str());
  if (made == nullptr)
    fail(path + ": cannot create: no container for this name (" + av_reason(error) +
         "); name it .mp4, .mkv, .264 ...");
  format_.reset(made);
  stream_ = allocated(avformat_new_stream(format_.get(), nullptr));
  copy_.reset(allocated(av_packet_alloc()));
  error = avcodec_parameters_copy(stream_->codecpar, input->codecpar);
  if (error < 0) fail_with("cannot create", error);
  stream_->codecpar->codec_tag = 0;  // the new container's own
  stream_->time_base = input->time_base;
  stream_->avg_frame_rate = input->avg_frame_rate;
  stream_->r_frame_rate = input->r_frame_rate;
  if (!(format_->oformat->flags & AVFMT_NOFILE)) {
    error = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (error < 0) fail_with("cannot create", error);
    run.claim_output(path);  // created now: noted, so later outputs are not it
  }
  error = avformat_write_header(format_.get(), nullptr);
  if (error < 0) fail_with("cannot write", error);
}

void Remuxer::fail_with(const char* what, int error) const {
  fail(path_ + ": " + what + ": " + av_reason(error));
}

void Remuxer::write(const AVPacket* packet) {
  int error = av_packet_ref(copy_.get(), packet);
  if (error < 0) fail_with("cannot write", error);
  av_packet_rescale_ts(copy_.get(), AVRational{in_num_, in_den_}, stream_->time_base);
  copy_->stream_index = stream_->index;
  copy_->pos = -1;
  error = av_interleaved_write_frame(format_.get(), copy_.get());  // takes the reference
  if (error < 0) fail_with("cannot write", error);
}

void Remuxer::finish() {
  int error = av_write_trailer(format_.get());
  if (error < 0) fail_with("cannot write", error);
  if (!(format_->oformat->flags & AVFMT_NOFILE)) {
    error = avio_closep(&format_->pb);
    if (error < 0) fail_with("cannot close", error);
  }
}
