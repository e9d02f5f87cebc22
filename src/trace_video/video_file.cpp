// Demuxing and remuxing with libavformat, the picture types from
// libavcodec's parsers. The calls follow FFmpeg's remuxing example; each
// context has its owner (av_owners.h) from the moment it is made.

#include "trace_video/video_file.h"

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <vector>

#include "trace_io/failure.h"
#include "trace_io/table_output.h"

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

VideoInput::VideoInput(RunState& run, const std::string& path, bool read_again) : path_(path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;  // the reader says why
  regular_ = S_ISREG(st.st_mode);
  if (!regular_ && read_again && !S_ISDIR(st.st_mode))
    fail(
        path +
        ": not a file but a pipe, FIFO or device, which can be read only once; receive reads "
        "the video once to judge its frames and again to decode them: give a file, or --no-decode");
  if (!regular_) return;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  size_ = st.st_size;
  mtime_ = st.st_mtim;
  ctime_ = st.st_ctim;
  // Opened only to be noted: a FIFO is never opened here (a writer waiting
  // on it would lose its reader).
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  run.note_input(fd, path);
  ::close(fd);
}

void VideoInput::check() const {
  if (!regular_) return;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_ ||
      st.st_size != size_ || st.st_mtim.tv_sec != mtime_.tv_sec ||
      st.st_mtim.tv_nsec != mtime_.tv_nsec || st.st_ctim.tv_sec != ctime_.tv_sec ||
      st.st_ctim.tv_nsec != ctime_.tv_nsec)
    fail(path_ + ": the file changed while it was being read");
}

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
  resets_.emplace(stream_->codecpar);
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

bool VideoReader::read_packet(AVPacket* into) {
  for (;;) {
    av_packet_unref(into);
    int error = av_read_frame(format_.get(), into);
    if (error == AVERROR_EOF) return false;
    if (error < 0) fail(path_ + ": cannot read: " + av_reason(error));
    if (into->stream_index == stream_->index) return true;
  }
}

void VideoReader::lead_in() {
  // A decoder reorders at most 16 frames: the k-th smallest presentation
  // time among the first k + 17 packets is the k-th decode time.
  constexpr size_t kMaxLeading = 64, kReorder = 17;
  size_t timed_at = SIZE_MAX;
  while (ahead_.size() < (timed_at == SIZE_MAX ? kMaxLeading : timed_at + kReorder)) {
    PacketPtr p(allocated(av_packet_alloc()));
    if (!read_packet(p.get())) break;
    if (timed_at == SIZE_MAX && p->dts != AV_NOPTS_VALUE) timed_at = ahead_.size();
    ahead_.push_back(std::move(p));
    if (ahead_.size() == 1 && ahead_[0]->dts != AV_NOPTS_VALUE) return;  // the usual case
  }
  std::vector<int64_t> pts;
  for (const PacketPtr& p : ahead_) {
    if (p->pts == AV_NOPTS_VALUE) {
      // Neither time on the first packet: the container has none.
      if (p == ahead_.front() && p->dts == AV_NOPTS_VALUE) timed_ = false;
      return;
    }
    pts.push_back(p->pts);
  }
  std::sort(pts.begin(), pts.end());
  // The decode times the container gives later continue these.
  int64_t shift = timed_at == SIZE_MAX ? 0 : pts[timed_at] - ahead_[timed_at]->dts;
  for (size_t k = 0; k < ahead_.size() && k != timed_at && ahead_[k]->dts == AV_NOPTS_VALUE; ++k)
    ahead_[k]->dts = pts[k] - shift;
}

bool VideoReader::next(VideoFrame& frame) {
  if (count_ == 0 && timed_) lead_in();
  if (!ahead_.empty()) {
    av_packet_unref(packet_.get());
    av_packet_move_ref(packet_.get(), ahead_.front().get());
    ahead_.pop_front();
  } else if (!read_packet(packet_.get())) {
    return false;
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
  frame.resets = resets_->resets(packet_->data, packet_->size);
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
  av_parser_parse2(parser_.get(), codec_.get(), &out, &out_size, packet_->data, packet_->size,
                   AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
  return type_of(parser_->pict_type);
}

Remuxer::Remuxer(RunState& run, const std::string& path, const AVStream* input,
                 const std::string& source)
    : path_(path), source_(source), in_num_(input->time_base.num), in_den_(input->time_base.den) {
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
    // Refused as every output is: opening a FIFO would wait for a reader.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
      fail(path + ": cannot create: not a regular file");
    error = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (error < 0) fail_with("cannot create", error);
    run.outputs_created = true;
    run.claim_output(path);  // created now: noted, so later outputs are not it
  }
  error = avformat_write_header(format_.get(), nullptr);
  if (error < 0) fail_with("cannot write", error);
}

void Remuxer::fail_with(const char* what, int error) const {
  fail(path_ + ": " + what + ": " + av_reason(error));
}

void Remuxer::write(const AVPacket* packet, int32_t frame) {
  int error = av_packet_ref(copy_.get(), packet);
  if (error < 0) fail_with("cannot write", error);
  av_packet_rescale_ts(copy_.get(), AVRational{in_num_, in_den_}, stream_->time_base);
  copy_->stream_index = stream_->index;
  copy_->pos = -1;
  int64_t dts = copy_->dts;
  error = av_interleaved_write_frame(format_.get(), copy_.get());  // takes the reference
  if (error == AVERROR(EINVAL) && dts != AV_NOPTS_VALUE && last_dts_ != AV_NOPTS_VALUE &&
      dts <= last_dts_) {
    // The input's fault, not the output's: say so, and which frame.
    auto seconds = [&](int64_t t) {
      return number_text(static_cast<double>(t) * stream_->time_base.num / stream_->time_base.den);
    };
    fail(source_ + ": frame " + std::to_string(frame) + ": its decode time " + seconds(dts) +
         " s is not after the one of the frame before it in " + path_ + " (" + seconds(last_dts_) +
         " s), as in streams joined end to end; " + path_ + "'s container cannot hold that");
  }
  if (error < 0) fail_with("cannot write", error);
  if (dts != AV_NOPTS_VALUE) last_dts_ = dts;
}

void Remuxer::finish() {
  int error = av_write_trailer(format_.get());
  if (error < 0) fail_with("cannot write", error);
  if (!(format_->oformat->flags & AVFMT_NOFILE)) {
    error = avio_closep(&format_->pb);
    if (error < 0) fail_with("cannot close", error);
  }
}
