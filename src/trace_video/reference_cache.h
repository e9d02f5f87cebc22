// The reference's decoded pictures of the stretches a sweep's runs decode,
// kept once for all of them. Runs that lost frames in the same stretch
// need the same undamaged pictures; the first to decode a stretch leaves
// them here, the others take references to the same buffers. Bounded in
// bytes: past the bound, stretches are decoded by each run that needs
// them. Shared between the runs' threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "trace_video/av_owners.h"

// A stretch's pictures as a fresh decoder gives them from its start, in
// output order: each with its frame and the packets fed since the start.
struct StretchPictures {
  struct Picture {
    FramePtr picture;
    int32_t frame;
    int64_t fed;
  };
  std::vector<Picture> pictures;
  size_t bytes = 0;
};

class ReferenceCache {
 public:
  // max_bytes: the pictures' samples kept at most.
  explicit ReferenceCache(size_t max_bytes) : max_bytes_(max_bytes) {}
  // The bound for a sweep: 512 MiB, or a quarter of what the machine and
  // the process's limits leave, whichever is less.
  static size_t default_bound();
  // The stretch starting at frame `begin`, or null.
  std::shared_ptr<const StretchPictures> find(int32_t begin) const;
  // Whether a stretch of about `bytes` more would fit now.
  bool room_for(size_t bytes) const;
  // Keeps the stretch, unless it would pass the bound or is there already.
  void put(int32_t begin, std::shared_ptr<const StretchPictures> stretch);
  size_t bytes() const;

 private:
  const size_t max_bytes_;
  mutable std::mutex mutex_;
  std::map<int32_t, std::shared_ptr<const StretchPictures>> stretches_;
  size_t bytes_ = 0;
};

// The bytes of a picture's planes, for the bound.
size_t picture_bytes(const AVFrame* frame);
