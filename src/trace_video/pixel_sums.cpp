// The sums, portable and vectorised. The vector paths sum 16-bit samples
// pairwise into 32-bit lanes (pmaddwd, vpadal), which no picture row can
// overflow between the widenings.

#include "trace_video/pixel_sums.h"

#if (defined(__x86_64__) || defined(__i386__)) && !defined(TRACE_ALIGN_NO_SIMD)
#define PIXEL_SUMS_X86 1
#include <immintrin.h>
#elif defined(__aarch64__) && !defined(TRACE_ALIGN_NO_SIMD)
#define PIXEL_SUMS_NEON 1  // every AArch64 processor has it
#include <arm_neon.h>
#endif

namespace {

uint64_t squared_error_portable(const uint8_t* a, const uint8_t* b, int width) {
  uint64_t sum = 0;
  for (int x = 0; x < width; ++x) {
    int d = a[x] - b[x];
    sum += static_cast<uint32_t>(d * d);
  }
  return sum;
}

void block_sums_portable(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride,
                         BlockSums* sums, int blocks) {
  for (int z = 0; z < blocks; ++z, a += 4, b += 4) {
    int s1 = 0, s2 = 0, ss = 0, s12 = 0;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        int p = a[x + y * a_stride], q = b[x + y * b_stride];
        s1 += p;
        s2 += q;
        ss += p * p + q * q;
        s12 += p * q;
      }
    sums[z] = {s1, s2, ss, s12};
  }
}

#if defined(PIXEL_SUMS_X86) || defined(PIXEL_SUMS_NEON)
// 8,192 steps of at most 2 x 2 x 255^2 a lane stay below 2^31.
constexpr int kStepsPerWidening = 8192;
#endif

#ifdef PIXEL_SUMS_NEON

uint64_t squared_error_neon(const uint8_t* a, const uint8_t* b, int width) {
  uint64_t sum = 0;
  int x = 0;
  while (x + 16 <= width) {
    uint32x4_t acc = vdupq_n_u32(0);
    for (int steps = 0; steps < kStepsPerWidening && x + 16 <= width; ++steps, x += 16) {
      uint8x16_t d = vabdq_u8(vld1q_u8(a + x), vld1q_u8(b + x));
      // Each square fits 16 bits; pairs of them add into 32-bit lanes.
      acc = vpadalq_u16(acc, vmull_u8(vget_low_u8(d), vget_low_u8(d)));
      acc = vpadalq_u16(acc, vmull_u8(vget_high_u8(d), vget_high_u8(d)));
    }
    sum += vaddlvq_u32(acc);
  }
  return sum + squared_error_portable(a + x, b + x, width - x);
}

// Four blocks (16 samples of each of 4 rows) at a time: pairwise widening
// adds keep each block's samples in adjacent lanes.
void block_sums_neon(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride,
                     BlockSums* sums, int blocks) {
  int z = 0;
  for (; z + 4 <= blocks; z += 4, a += 16, b += 16) {
    uint16x8_t s1 = vdupq_n_u16(0), s2 = vdupq_n_u16(0);
    uint32x4_t ss[2] = {vdupq_n_u32(0), vdupq_n_u32(0)}, s12[2] = {vdupq_n_u32(0), vdupq_n_u32(0)};
    for (int y = 0; y < 4; ++y) {
      uint8x16_t p = vld1q_u8(a + y * a_stride), q = vld1q_u8(b + y * b_stride);
      s1 = vpadalq_u8(s1, p);
      s2 = vpadalq_u8(s2, q);
      uint8x8_t ph[2] = {vget_low_u8(p), vget_high_u8(p)}, qh[2] = {vget_low_u8(q), vget_high_u8(q)};
      for (int h = 0; h < 2; ++h) {
        ss[h] = vpadalq_u16(ss[h], vmull_u8(ph[h], ph[h]));
        ss[h] = vpadalq_u16(ss[h], vmull_u8(qh[h], qh[h]));
        s12[h] = vpadalq_u16(s12[h], vmull_u8(ph[h], qh[h]));
      }
    }
    uint32_t l1[4], l2[4], lss[4], l12[4];
    vst1q_u32(l1, vpaddlq_u16(s1));
    vst1q_u32(l2, vpaddlq_u16(s2));
    vst1q_u32(lss, vpaddq_u32(ss[0], ss[1]));
    vst1q_u32(l12, vpaddq_u32(s12[0], s12[1]));
    for (int k = 0; k < 4; ++k)
      sums[z + k] = {static_cast<int>(l1[k]), static_cast<int>(l2[k]), static_cast<int>(lss[k]),
                     static_cast<int>(l12[k])};
  }
  block_sums_portable(a, a_stride, b, b_stride, sums + z, blocks - z);
}

#endif

#ifdef PIXEL_SUMS_X86

uint64_t squared_error_sse2(const uint8_t* a, const uint8_t* b, int width) {
  const __m128i zero = _mm_setzero_si128();
  uint64_t sum = 0;
  int x = 0;
  while (x + 16 <= width) {
    __m128i acc = zero;
    for (int steps = 0; steps < kStepsPerWidening && x + 16 <= width; ++steps, x += 16) {
      __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
      __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
      __m128i d = _mm_or_si128(_mm_subs_epu8(p, q), _mm_subs_epu8(q, p));  // |p - q|
      __m128i lo = _mm_unpacklo_epi8(d, zero), hi = _mm_unpackhi_epi8(d, zero);
      acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    sum += uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
  }
  return sum + squared_error_portable(a + x, b + x, width - x);
}

__attribute__((target("avx2"))) uint64_t squared_error_avx2(const uint8_t* a, const uint8_t* b, int width) {
  const __m256i zero = _mm256_setzero_si256();
  uint64_t sum = 0;
  int x = 0;
  while (x + 32 <= width) {
    __m256i acc = zero;
    for (int steps = 0; steps < kStepsPerWidening && x + 32 <= width; ++steps, x += 32) {
      __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x));
      __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x));
      __m256i d = _mm256_or_si256(_mm256_subs_epu8(p, q), _mm256_subs_epu8(q, p));
      __m256i lo = _mm256_unpacklo_epi8(d, zero), hi = _mm256_unpackhi_epi8(d, zero);
      acc = _mm256_add_epi32(acc, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
    }
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc);
    for (uint32_t lane : lanes) sum += lane;
  }
  return sum + squared_error_sse2(a + x, b + x, width - x);
}

// Four blocks (16 samples of each of 4 rows) at a time. Each 32-bit lane
// holds a pair of samples' sums: lanes 2k and 2k + 1 are block k's.
void block_sums_sse2(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride,
                     BlockSums* sums, int blocks) {
  const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
  int z = 0;
  for (; z + 4 <= blocks; z += 4, a += 16, b += 16) {
    __m128i s1[2] = {zero, zero}, s2[2] = {zero, zero}, ss[2] = {zero, zero}, s12[2] = {zero, zero};
    for (int y = 0; y < 4; ++y) {
      __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * a_stride));
      __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * b_stride));
      __m128i ps[2] = {_mm_unpacklo_epi8(p, zero), _mm_unpackhi_epi8(p, zero)};
      __m128i qs[2] = {_mm_unpacklo_epi8(q, zero), _mm_unpackhi_epi8(q, zero)};
      for (int h = 0; h < 2; ++h) {
        s1[h] = _mm_add_epi32(s1[h], _mm_madd_epi16(ps[h], ones));
        s2[h] = _mm_add_epi32(s2[h], _mm_madd_epi16(qs[h], ones));
        ss[h] = _mm_add_epi32(ss[h], _mm_add_epi32(_mm_madd_epi16(ps[h], ps[h]), _mm_madd_epi16(qs[h], qs[h])));
        s12[h] = _mm_add_epi32(s12[h], _mm_madd_epi16(ps[h], qs[h]));
      }
    }
    alignas(16) int32_t l1[8], l2[8], lss[8], l12[8];
    for (int h = 0; h < 2; ++h) {
      _mm_store_si128(reinterpret_cast<__m128i*>(l1 + 4 * h), s1[h]);
      _mm_store_si128(reinterpret_cast<__m128i*>(l2 + 4 * h), s2[h]);
      _mm_store_si128(reinterpret_cast<__m128i*>(lss + 4 * h), ss[h]);
      _mm_store_si128(reinterpret_cast<__m128i*>(l12 + 4 * h), s12[h]);
    }
    for (int k = 0; k < 4; ++k)
      sums[z + k] = {l1[2 * k] + l1[2 * k + 1], l2[2 * k] + l2[2 * k + 1], lss[2 * k] + lss[2 * k + 1],
                     l12[2 * k] + l12[2 * k + 1]};
  }
  block_sums_portable(a, a_stride, b, b_stride, sums + z, blocks - z);
}

// Eight blocks at a time. AVX2 unpacks within 128-bit halves: the low
// unpack holds blocks 0, 1, 4, 5 and the high one 2, 3, 6, 7.
__attribute__((target("avx2"))) void block_sums_avx2(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b,
                                                     ptrdiff_t b_stride, BlockSums* sums, int blocks) {
  const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi16(1);
  int z = 0;
  for (; z + 8 <= blocks; z += 8, a += 32, b += 32) {
    __m256i s1[2] = {zero, zero}, s2[2] = {zero, zero}, ss[2] = {zero, zero}, s12[2] = {zero, zero};
    for (int y = 0; y < 4; ++y) {
      __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + y * a_stride));
      __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + y * b_stride));
      __m256i ps[2] = {_mm256_unpacklo_epi8(p, zero), _mm256_unpackhi_epi8(p, zero)};
      __m256i qs[2] = {_mm256_unpacklo_epi8(q, zero), _mm256_unpackhi_epi8(q, zero)};
      for (int h = 0; h < 2; ++h) {
        s1[h] = _mm256_add_epi32(s1[h], _mm256_madd_epi16(ps[h], ones));
        s2[h] = _mm256_add_epi32(s2[h], _mm256_madd_epi16(qs[h], ones));
        ss[h] = _mm256_add_epi32(
            ss[h], _mm256_add_epi32(_mm256_madd_epi16(ps[h], ps[h]), _mm256_madd_epi16(qs[h], qs[h])));
        s12[h] = _mm256_add_epi32(s12[h], _mm256_madd_epi16(ps[h], qs[h]));
      }
    }
    alignas(32) int32_t l1[16], l2[16], lss[16], l12[16];
    for (int h = 0; h < 2; ++h) {
      _mm256_store_si256(reinterpret_cast<__m256i*>(l1 + 8 * h), s1[h]);
      _mm256_store_si256(reinterpret_cast<__m256i*>(l2 + 8 * h), s2[h]);
      _mm256_store_si256(reinterpret_cast<__m256i*>(lss + 8 * h), ss[h]);
      _mm256_store_si256(reinterpret_cast<__m256i*>(l12 + 8 * h), s12[h]);
    }
    // Block k's two lanes: in the low unpack (h 0) or the high one (h 1),
    // in the low or high 128-bit half.
    static constexpr int kLane[8] = {0, 2, 8, 10, 4, 6, 12, 14};
    for (int k = 0; k < 8; ++k) {
      int i = kLane[k];
      sums[z + k] = {l1[i] + l1[i + 1], l2[i] + l2[i + 1], lss[i] + lss[i + 1], l12[i] + l12[i + 1]};
    }
  }
  block_sums_sse2(a, a_stride, b, b_stride, sums + z, blocks - z);
}

#endif

}  // namespace

SumPath best_sum_path() {
#ifdef PIXEL_SUMS_X86
  static const SumPath path = __builtin_cpu_supports("avx2") ? SumPath::kAvx2 : SumPath::kSse2;
  return path;
#elif defined(PIXEL_SUMS_NEON)
  return SumPath::kNeon;
#else
  return SumPath::kPortable;
#endif
}

std::vector<SumPath> sum_paths() {
  std::vector<SumPath> paths = {SumPath::kPortable};
#ifdef PIXEL_SUMS_X86
  paths.push_back(SumPath::kSse2);
  if (best_sum_path() == SumPath::kAvx2) paths.push_back(SumPath::kAvx2);
#elif defined(PIXEL_SUMS_NEON)
  paths.push_back(SumPath::kNeon);
#endif
  return paths;
}

uint64_t squared_error_row(const uint8_t* a, const uint8_t* b, int width, SumPath path) {
  switch (path) {
#ifdef PIXEL_SUMS_X86
    case SumPath::kAvx2: return squared_error_avx2(a, b, width);
    case SumPath::kSse2: return squared_error_sse2(a, b, width);
#elif defined(PIXEL_SUMS_NEON)
    case SumPath::kNeon: return squared_error_neon(a, b, width);
#endif
    default: return squared_error_portable(a, b, width);
  }
}

void block_sums(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride, BlockSums* sums,
                int blocks, SumPath path) {
  switch (path) {
#ifdef PIXEL_SUMS_X86
    case SumPath::kAvx2: return block_sums_avx2(a, a_stride, b, b_stride, sums, blocks);
    case SumPath::kSse2: return block_sums_sse2(a, a_stride, b, b_stride, sums, blocks);
#elif defined(PIXEL_SUMS_NEON)
    case SumPath::kNeon: return block_sums_neon(a, a_stride, b, b_stride, sums, blocks);
#endif
    default: return block_sums_portable(a, a_stride, b, b_stride, sums, blocks);
  }
}
