#include "trace_video/reference_cache.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>

#include "trace_io/memory.h"

size_t ReferenceCache::default_bound() {
  constexpr size_t kMax = size_t{512} << 20;
  uint64_t available = available_memory();
  return available == UINT64_MAX ? kMax
                                 : static_cast<size_t>(std::min<uint64_t>(kMax, available / 4));
}

std::shared_ptr<const StretchPictures> ReferenceCache::find(int32_t begin) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = stretches_.find(begin);
  return it == stretches_.end() ? nullptr : it->second;
}

bool ReferenceCache::room_for(size_t bytes) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes <= max_bytes_ - std::min(bytes_, max_bytes_);
}

void ReferenceCache::put(int32_t begin, std::shared_ptr<const StretchPictures> stretch) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stretches_.count(begin) != 0 || stretch->bytes > max_bytes_ - std::min(bytes_, max_bytes_))
    return;
  bytes_ += stretch->bytes;
  stretches_.emplace(begin, std::move(stretch));
}

size_t ReferenceCache::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

size_t picture_bytes(const AVFrame* frame) {
  size_t bytes = 0;
  for (int c = 0; c < AV_NUM_DATA_POINTERS && frame->buf[c] != nullptr; ++c)
    bytes += frame->buf[c]->size;
  return bytes;
}
