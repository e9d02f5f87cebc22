// Finding random-access points by the NAL unit types of each packet: in
// length-prefixed units (MP4, Matroska) as the codec's configuration
// record says, or between Annex B start codes.

#include "trace_video/random_access.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <vector>

namespace {

// An RBSP reader: emulation prevention bytes dropped. Reading past the end
// marks it bad and gives zeros.
class Bits {
 public:
  Bits(const uint8_t* data, size_t size) {
    rbsp_.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
      if (zeros >= 2 && data[i] == 3) {
        zeros = 0;
        continue;
      }
      zeros = data[i] == 0 ? zeros + 1 : 0;
      rbsp_.push_back(data[i]);
    }
  }
  uint32_t u(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | bit();
    return v;
  }
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0 && good_)
      if (++zeros > 31) return bad();
    return zeros == 0 ? 0 : (uint32_t{1} << zeros) - 1 + u(zeros);
  }
  void se() { ue(); }
  bool good() const { return good_; }

 private:
  uint32_t bit() {
    if (at_ >= rbsp_.size() * 8) return bad();
    uint32_t b = rbsp_[at_ / 8] >> (7 - at_ % 8) & 1;
    ++at_;
    return b;
  }
  uint32_t bad() {
    good_ = false;
    return 0;
  }
  std::vector<uint8_t> rbsp_;
  size_t at_ = 0;
  bool good_ = true;
};

void skip_scaling_list(Bits& b, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size && b.good(); ++j) {
    if (next != 0) {
      // delta_scale, a signed Exp-Golomb value
      uint32_t code = b.ue();
      int delta = code & 1 ? static_cast<int>((code + 1) / 2) : -static_cast<int>(code / 2);
      next = (last + delta + 256) % 256;
    }
    last = next == 0 ? last : next;
  }
}

void skip_hrd(Bits& b) {
  uint32_t count = b.ue() + 1;
  b.u(8);  // bit_rate_scale, cpb_size_scale
  for (uint32_t i = 0; i < count && i < 32 && b.good(); ++i) {
    b.ue();
    b.ue();
    b.u(1);
  }
  b.u(20);
}

bool high_profile(uint32_t profile) {
  for (uint32_t p : {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135})
    if (profile == p) return true;
  return false;
}

}  // namespace

bool h264_sps_declares_reordering(const uint8_t* nal, size_t size) {
  if (size < 2) return false;
  Bits b(nal + 1, size - 1);
  uint32_t profile = b.u(8);
  b.u(16);  // constraint flags, level
  b.ue();   // seq_parameter_set_id
  if (high_profile(profile)) {
    uint32_t chroma = b.ue();
    if (chroma == 3) b.u(1);
    b.ue();
    b.ue();
    b.u(1);
    if (b.u(1))
      for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i)
        if (b.u(1)) skip_scaling_list(b, i < 6 ? 16 : 64);
  }
  b.ue();  // log2_max_frame_num_minus4
  uint32_t poc_type = b.ue();
  if (poc_type == 0) {
    b.ue();
  } else if (poc_type == 1) {
    b.u(1);
    b.se();
    b.se();
    uint32_t cycle = b.ue();
    for (uint32_t i = 0; i < cycle && i < 256 && b.good(); ++i) b.se();
  }
  b.ue();               // max_num_ref_frames
  b.u(1);               // gaps_in_frame_num_value_allowed_flag
  b.ue();               // pic_width_in_mbs_minus1
  b.ue();               // pic_height_in_map_units_minus1
  if (!b.u(1)) b.u(1);  // frame_mbs_only_flag, mb_adaptive_frame_field_flag
  b.u(1);               // direct_8x8_inference_flag
  if (b.u(1)) {         // frame_cropping_flag
    for (int i = 0; i < 4; ++i) b.ue();
  }
  if (!b.u(1)) return false;             // no VUI
  if (b.u(1) && b.u(8) == 255) b.u(32);  // aspect ratio, extended SAR
  if (b.u(1)) b.u(1);                    // overscan
  if (b.u(1)) {                          // video signal type
    b.u(4);
    if (b.u(1)) b.u(24);
  }
  if (b.u(1)) {  // chroma location
    b.ue();
    b.ue();
  }
  if (b.u(1)) {  // timing
    b.u(32);
    b.u(32);
    b.u(1);
  }
  bool nal_hrd = b.u(1);
  if (nal_hrd) skip_hrd(b);
  bool vcl_hrd = b.u(1);
  if (vcl_hrd) skip_hrd(b);
  if (nal_hrd || vcl_hrd) b.u(1);  // low_delay_hrd_flag
  b.u(1);                          // pic_struct_present_flag
  bool restricted = b.u(1);
  return restricted && b.good();
}

bool concealment_reaches_back(const AVCodecParameters* codec) {
  return codec->codec_id == AV_CODEC_ID_HEVC || codec->codec_id == AV_CODEC_ID_H264;
}

ResetFinder::ResetFinder(const AVCodecParameters* codec) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(codec->codec_id);
  const uint8_t* extra = codec->extradata;
  int extra_size = codec->extradata_size;
  bool annex_b = extra_size < 4 || (extra[0] == 0 && extra[1] == 0 &&
                                    (extra[2] == 1 || (extra[2] == 0 && extra[3] == 1)));
  if (codec->codec_id == AV_CODEC_ID_H264) {
    kind_ = Kind::kH264;
    if (!annex_b && extra_size >= 7 && extra[0] == 1) {
      length_size_ = (extra[4] & 3) + 1;
      // avcC: the sequence parameter sets, each with a 16-bit length.
      int count = extra[5] & 31;
      size_t at = 6;
      for (int i = 0; i < count && at + 2 <= static_cast<size_t>(extra_size); ++i) {
        size_t n = static_cast<size_t>(extra[at] << 8 | extra[at + 1]);
        if (at + 2 + n > static_cast<size_t>(extra_size)) break;
        check_sps(extra + at + 2, n);
        at += 2 + n;
      }
    } else if (!annex_b) {
      kind_ = Kind::kNone;
    } else if (extra_size > 0) {
      resets(extra, extra_size);  // the sequence headers, as a packet would carry them
    }
  } else if (codec->codec_id == AV_CODEC_ID_HEVC) {
    kind_ = Kind::kHevc;
    if (!annex_b && extra_size >= 23)
      length_size_ = (extra[21] & 3) + 1;
    else if (!annex_b)
      kind_ = Kind::kNone;
  } else if (d != nullptr && (d->props & AV_CODEC_PROP_INTRA_ONLY)) {
    kind_ = Kind::kIntra;
  }
}

template <typename Visit>
void ResetFinder::each_nal(const uint8_t* data, int size, Visit visit) const {
  size_t n = size > 0 ? static_cast<size_t>(size) : 0;
  if (length_size_ > 0) {
    for (size_t at = 0; at + static_cast<size_t>(length_size_) <= n;) {
      size_t len = 0;
      for (int i = 0; i < length_size_; ++i) len = len << 8 | data[at++];
      if (len == 0 || len > n - at) return;
      if (!visit(data + at, len)) return;
      at += len;
    }
    return;
  }
  // Annex B: each unit runs from after a start code to the next one.
  size_t start = SIZE_MAX;
  for (size_t i = 0; i + 3 <= n; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    if (start != SIZE_MAX) {
      size_t end = i;
      while (end > start && data[end - 1] == 0) --end;  // trailing zeros of a 4-byte code
      if (end > start && !visit(data + start, end - start)) return;
    }
    start = i + 3;
    i += 2;
  }
  if (start != SIZE_MAX && start < n) visit(data + start, n - start);
}

void ResetFinder::check_sps(const uint8_t* nal, size_t size) {
  if (!h264_sps_declares_reordering(nal, size)) kind_ = Kind::kNone;
}

bool ResetFinder::resets(const uint8_t* data, int size) {
  if (kind_ == Kind::kIntra) return true;
  if (kind_ == Kind::kNone) return false;
  bool reset = false, picture = false;
  each_nal(data, size, [&](const uint8_t* nal, size_t len) {
    if (kind_ == Kind::kH264) {
      int type = nal[0] & 31;
      if (type == 7) check_sps(nal, len);
      if (type >= 1 && type <= 5 && !picture) {
        picture = true;
        reset = type == 5;
      }
    } else {
      int type = nal[0] >> 1 & 63;
      // The first picture's units decide (0-31 carry pictures): IDR_W_RADL, IDR_N_LP.
      if (type <= 31) {
        reset = type == 19 || type == 20;
        return false;
      }
    }
    return true;
  });
  return reset && kind_ != Kind::kNone;
}
