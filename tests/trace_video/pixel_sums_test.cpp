// The vector paths of the picture sums give the portable loop's sums, on
// every width (the vector steps and the rest), on strides wider than the
// rows, on the extremes, and on rows long enough to widen the lanes.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "trace_video/pixel_sums.h"

namespace {

const char* Name(SumPath path) {
  switch (path) {
    case SumPath::kAvx2: return "avx2";
    case SumPath::kSse2: return "sse2";
    case SumPath::kNeon: return "neon";
    default: return "portable";
  }
}

TEST(PixelSumsTest, EveryPathGivesThePortableSums) {
  std::mt19937 random(7);
  struct Case {
    int width, stride;
    int low, high;  // sample range
  } cases[] = {{1, 1, 0, 255}, {4, 8, 0, 255},     {15, 16, 0, 255},  {16, 16, 0, 255},  {17, 20, 0, 255},
               {31, 40, 0, 255}, {32, 32, 255, 255}, {33, 64, 0, 0},  {100, 128, 0, 255}, {1283, 1300, 0, 255},
               {4096, 4096, 0, 255}};
  for (const Case& c : cases) {
    std::uniform_int_distribution<int> sample(c.low, c.high);
    std::vector<uint8_t> a(static_cast<size_t>(c.stride) * 4), b(a.size());
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(sample(random)), b[i] = static_cast<uint8_t>(255 - sample(random));
    uint64_t expected = squared_error_row(a.data(), b.data(), c.width, SumPath::kPortable);
    int blocks = c.width / 4;
    std::vector<BlockSums> want(static_cast<size_t>(blocks) + 1), got(want.size());
    block_sums(a.data(), c.stride, b.data(), c.stride, want.data(), blocks, SumPath::kPortable);
    for (SumPath path : sum_paths()) {
      EXPECT_EQ(expected, squared_error_row(a.data(), b.data(), c.width, path)) << Name(path) << " width " << c.width;
      block_sums(a.data(), c.stride, b.data(), c.stride, got.data(), blocks, path);
      for (int k = 0; k < blocks; ++k) {
        EXPECT_EQ(want[k].s1, got[k].s1) << Name(path) << " width " << c.width << " block " << k;
        EXPECT_EQ(want[k].s2, got[k].s2) << Name(path) << " block " << k;
        EXPECT_EQ(want[k].ss, got[k].ss) << Name(path) << " block " << k;
        EXPECT_EQ(want[k].s12, got[k].s12) << Name(path) << " block " << k;
      }
    }
  }
}

// 300,000 samples at the greatest difference: past the point where the
// 32-bit lanes are widened, the sum is still 300,000 x 255^2.
TEST(PixelSumsTest, LongRowsAreExact) {
  std::vector<uint8_t> a(300000, 255), b(300000, 0);
  for (SumPath path : sum_paths())
    EXPECT_EQ(uint64_t{300000} * 255 * 255, squared_error_row(a.data(), b.data(), 300000, path)) << Name(path);
}

}  // namespace
