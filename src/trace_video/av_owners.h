// One owner for every FFmpeg context: a std::unique_ptr with the library's
// own release as its deleter, so that a failure at any point, in a
// constructor too, releases all that was made before it.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include "trace_io/failure.h"

struct AvRelease {
  // A demuxer's context, opened by avformat_open_input.
  void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
  void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
  void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
// A muxer's context and the file it writes (closed unless the container
// writes none).
struct MuxerRelease {
  void operator()(AVFormatContext* format) const {
    if (!(format->oformat->flags & AVFMT_NOFILE)) avio_closep(&format->pb);
    avformat_free_context(format);
  }
};

using DemuxerPtr = std::unique_ptr<AVFormatContext, AvRelease>;
using MuxerPtr = std::unique_ptr<AVFormatContext, MuxerRelease>;
using CodecPtr = std::unique_ptr<AVCodecContext, AvRelease>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, AvRelease>;
using PacketPtr = std::unique_ptr<AVPacket, AvRelease>;
using FramePtr = std::unique_ptr<AVFrame, AvRelease>;

// The library could not allocate what it was asked for.
[[noreturn]] inline void fail_allocation() {
  throw RunFailure{"cannot allocate memory", FailureKind::kMemory, true};
}
// p, or that failure when p is null.
template <typename T>
T* allocated(T* p) {
  if (p == nullptr) fail_allocation();
  return p;
}
