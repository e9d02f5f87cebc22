// Random-access points that reset the decoder: a packet after which nothing
// in decode order depends on anything before it, and before which every
// picture is shown first. An IDR picture of H.264 or HEVC, any packet of an
// intra-only codec. Nothing else is trusted: not a key frame flag, not an
// open GOP's I picture, not a recovery point.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecParameters;

class ResetFinder {
 public:
  explicit ResetFinder(const AVCodecParameters* codec);
  // Whether the packet starts with such a point.
  bool resets(const uint8_t* data, int size);
  // False once the stream has shown anything that makes its points
  // untrustworthy (an H.264 sequence header that leaves the reordering to
  // the decoder's guess): then no packet resets.
  bool trusted() const { return kind_ != Kind::kNone; }

 private:
  enum class Kind { kNone, kIntra, kH264, kHevc };
  // The type of each NAL unit of the packet, until visit returns false.
  template <typename Visit>
  void each_nal(const uint8_t* data, int size, Visit visit) const;
  void check_sps(const uint8_t* nal, size_t size);
  Kind kind_ = Kind::kNone;
  int length_size_ = 0;  // bytes of each NAL unit's length; 0: start codes
};

// Whether the codec's decoder conceals a missing reference with a picture
// from before the last random-access point: HEVC's finds one of the
// stretch before by its picture order count; H.264's takes its default
// reference, a picture decoded before the IDR (a P frame lost right after
// an IDR makes the B frames that follow show it).
bool concealment_reaches_back(const AVCodecParameters* codec);

// Whether an H.264 sequence parameter set (the NAL unit, header byte
// first) declares its reordering (VUI bitstream_restriction_flag). Without
// it, the decoder guesses the reorder depth as it goes, and a decoder that
// starts at a later point may guess otherwise.
bool h264_sps_declares_reordering(const uint8_t* nal, size_t size);
