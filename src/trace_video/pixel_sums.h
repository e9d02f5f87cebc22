// The integer sums behind the picture figures (squared errors, SSIM's 4x4
// block sums), on the widest vectors the machine has: AVX2 or SSE2 on
// x86-64, chosen at run time, NEON on AArch64, the portable loop elsewhere. Every path
// gives the same sums: they are exact integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class SumPath { kPortable, kSse2, kAvx2, kNeon };

// The widest path this machine runs (decided once).
SumPath best_sum_path();
// Every path this machine runs, the portable one first.
std::vector<SumPath> sum_paths();

// The sum of (a[x] - b[x])^2 over a row of `width` samples.
uint64_t squared_error_row(const uint8_t* a, const uint8_t* b, int width, SumPath path);

// The sums of each 4x4 block of a row of `blocks` blocks.
struct BlockSums {
  int s1, s2, ss, s12;
};
void block_sums(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride,
                BlockSums* sums, int blocks, SumPath path);
