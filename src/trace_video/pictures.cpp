// Pictures: the planes of a decoded frame, a gray one, and YUV4MPEG2.

#include "trace_video/pictures.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace {

// The formats the figures read, with their YUV4MPEG2 colour-space tags.
struct Format {
  AVPixelFormat format;
  const char* y4m;
};
constexpr Format kFormats[] = {
    {AV_PIX_FMT_YUV420P, "420jpeg"}, {AV_PIX_FMT_YUVJ420P, "420jpeg"}, {AV_PIX_FMT_YUV422P, "422"},
    {AV_PIX_FMT_YUVJ422P, "422"},    {AV_PIX_FMT_YUV444P, "444"},      {AV_PIX_FMT_YUVJ444P, "444"},
};

const Format* format_of(const AVFrame* frame) {
  for (const Format& f : kFormats)
    if (f.format == frame->format) return &f;
  return nullptr;
}

// Plane c's width and height.
void plane_size(const AVFrame* frame, int c, int* w, int* h) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  *w = c == 0 ? frame->width : AV_CEIL_RSHIFT(frame->width, d->log2_chroma_w);
  *h = c == 0 ? frame->height : AV_CEIL_RSHIFT(frame->height, d->log2_chroma_h);
}

}  // namespace

bool measurable_format(int format) {
  for (const auto& f : kFormats)
    if (f.format == format) return true;
  return false;
}

std::string frame_shape(const AVFrame* frame) {
  const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
  return std::to_string(frame->width) + "x" + std::to_string(frame->height) + " " +
         (name != nullptr ? name : "unknown");
}

bool same_shape(const AVFrame* a, const AVFrame* b) {
  return a->width == b->width && a->height == b->height && a->format == b->format;
}

Picture picture_of(const AVFrame* frame, const std::string& path) {
  if (format_of(frame) == nullptr)
    fail(path + ": pixel format " + frame_shape(frame) +
         ": the quality figures take 8-bit planar YUV (4:2:0, 4:2:2, 4:4:4); give --no-decode");
  Picture p;
  for (int c = 0; c < 3; ++c) {
    p.planes[c].data = frame->data[c];
    p.planes[c].stride = frame->linesize[c];
    plane_size(frame, c, &p.planes[c].width, &p.planes[c].height);
  }
  return p;
}

FramePtr copy_of(const AVFrame* frame) {
  FramePtr copy(allocated(av_frame_alloc()));
  copy->format = frame->format;
  copy->width = frame->width;
  copy->height = frame->height;
  if (av_frame_get_buffer(copy.get(), 0) < 0 || av_frame_copy(copy.get(), frame) < 0 ||
      av_frame_copy_props(copy.get(), frame) < 0)
    fail_allocation();
  return copy;
}

FramePtr gray_like(const AVFrame* like) {
  FramePtr gray(allocated(av_frame_alloc()));
  gray->format = like->format;
  gray->width = like->width;
  gray->height = like->height;
  if (av_frame_get_buffer(gray.get(), 0) < 0) fail_allocation();
  for (int c = 0; c < 3; ++c) {
    int w, h;
    plane_size(like, c, &w, &h);
    for (int y = 0; y < h; ++y) std::memset(gray->data[c] + y * gray->linesize[c], 128, w);
  }
  gray->pts = like->pts;
  return gray;
}

Y4mWriter::Y4mWriter(RunState& run, const std::string& path, int rate_num, int rate_den)
    : rate_num_(rate_num > 0 ? rate_num : 25),
      rate_den_(rate_num > 0 && rate_den > 0 ? rate_den : 1) {
  out_.create(run, path.c_str());
}

void Y4mWriter::write(const AVFrame* frame) {
  if (!header_) {
    header_ = true;
    AVRational sar = frame->sample_aspect_ratio;
    std::string head = "YUV4MPEG2 W" + std::to_string(frame->width) + " H" +
                       std::to_string(frame->height) + " F" + std::to_string(rate_num_) + ":" +
                       std::to_string(rate_den_) + " Ip A" + std::to_string(sar.num) + ":" +
                       std::to_string(sar.den) + " C" + format_of(frame)->y4m + "\n";
    out_.write(head.data(), head.size());
  }
  out_.write("FRAME\n", 6);
  for (int c = 0; c < 3; ++c) {
    int w, h;
    plane_size(frame, c, &w, &h);
    for (int y = 0; y < h; ++y)
      out_.write(frame->data[c] + y * frame->linesize[c], static_cast<size_t>(w));
  }
}
