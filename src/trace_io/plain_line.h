// The plain form of a trace line, the way trace writers print them: a time
// of digits, optionally a full stop and more digits, then integers with an
// optional minus sign, one space between columns, and the newline (or
// CR LF) right after the last column. Nearly every line has it, so it is
// read in one scan, to exactly the values the token readers give; any
// other line is left to them.
//
// | build          | technique                                                  |
// |----------------|------------------------------------------------------------|
// | SSE2           | bit masks of the line's first 64 bytes find every column   |
// |                | at once; each column is then read as one word ending where |
// |                | it ends (SWAR), independently of the others                |
// | portable       | one digit loop across the line                             |
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "trace_io/numbers.h"
#include "trace_io/swar.h"

#if defined(__SSE2__) && !defined(TRACE_ALIGN_NO_SIMD)
#define TRACE_ALIGN_SSE2 1
#include <emmintrin.h>
#endif

// Lines of at most this many columns can take the plain-form reading.
inline constexpr int kMaxPlainColumns = 6;
// Digits of a plain-form number: what one SWAR step reads.
inline constexpr int kMaxPlainDigits = 8;
// Decimals of a time kept as whole millionths.
inline constexpr int kMicrosDigits = 6;
static_assert(kPow10[kMaxPlainDigits] * kMicrosPerSecond <= TraceTime::kMaxMicros,
              "a plain-form time with six decimals or fewer is kept as millionths");
// A plain-form time has at most this many digits in all: its digits as one
// integer stay below 2^53, so one division gives it exactly.
inline constexpr int kMaxPlainTimeDigits = 15;
// Bytes the reading may look at from a line's start, and before it.
inline constexpr size_t kPlainLookahead = 64 + 8;
inline constexpr size_t kPlainLookbehind = 8;

namespace plain_line {

// The time whose whole part is `whole` and whose n_frac decimals have the
// value frac.
[[gnu::always_inline]] inline TraceTime time_of(uint64_t whole, uint64_t frac, int n_frac) {
  if (n_frac <= kMicrosDigits)
    return TraceTime::from_micros(whole * kMicrosPerSecond + frac * kPow10[kMicrosDigits - n_frac]);
  // Clinger's fast path: an integer below 2^53 over an exact power of ten.
  return TraceTime(static_cast<double>(static_cast<int64_t>(whole * kPow10[n_frac] + frac)) /
                   static_cast<double>(static_cast<int64_t>(kPow10[n_frac])));
}

#ifdef TRACE_ALIGN_SSE2

// Bit masks of the line's first 64 bytes: where its spaces, newlines
// and full stops are. Each 16 bytes are loaded once for all three.
struct Masks {
  uint64_t spaces = 0, newlines = 0, stops = 0;
};
[[gnu::always_inline]] inline Masks masks64(const char* p) {
  const __m128i space = _mm_set1_epi8(' '), newline = _mm_set1_epi8('\n'),
                stop = _mm_set1_epi8('.');
  Masks m;
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    auto bits = [&](__m128i c) {
      return uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, c)))}
             << (16 * i);
    };
    m.spaces |= bits(space);
    m.newlines |= bits(newline);
    m.stops |= bits(stop);
  }
  return m;
}

// The integer column [b, e): an optional minus and 1 to 8 digits.
[[gnu::always_inline]] inline bool column_int(const char* b, const char* e, int32_t* out) {
  bool negative = *b == '-';
  size_t length = static_cast<size_t>(e - b) - negative;
  uint64_t value;
  if (length - 1 >= kMaxPlainDigits || !swar::digits_ending_at(e, length, &value)) return false;
  if (negative && value == 0) return false;  // "-0" reads as -0.0 as a time
  *out = negative ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
  return true;
}

// Reads the line at p if it has the plain form and `want` columns, into
// time and ints (column 0's integer is its whole part); returns the line's
// length with its newline, or 0 when it has not that form. The integer
// columns whose bits are set in `unused` are any token, left unread (0).
// REQUIRES: kPlainLookahead readable bytes at p and 8 before it,
// 2 <= want <= kMaxPlainColumns.
template <int want>
inline size_t read(const char* p, uint32_t unused, TraceTime* time, int32_t* ints) {
  Masks m = masks64(p);
  if (m.newlines == 0) return 0;  // longer than any plain line but the widest: left to the tokens
  unsigned nl = static_cast<unsigned>(std::countr_zero(m.newlines));
  uint64_t seps = m.spaces & ((uint64_t{1} << nl) - 1);
  if (seps == 0) return 0;
  const char* end = p + nl - (nl > 0 && p[nl - 1] == '\r');
  // The time: digits, or digits, one full stop and digits.
  unsigned first = static_cast<unsigned>(std::countr_zero(seps));
  uint64_t stops = m.stops & ((uint64_t{1} << first) - 1);
  size_t n = first, n_frac = 0;
  uint64_t whole, frac = 0;
  bool ok = true;
  if (stops != 0) {
    n = static_cast<size_t>(std::countr_zero(stops));
    n_frac = first - n - 1;
    ok = n_frac - 1 < kMaxPlainDigits && n + n_frac <= kMaxPlainTimeDigits &&
         swar::digits_ending_at(p + first, n_frac, &frac);
  }
  ok = ok && n - 1 < kMaxPlainDigits && swar::digits_ending_at(p + n, n, &whole);
  if (!ok) return 0;
  *time = time_of(whole, frac, static_cast<int>(n_frac));
  ints[0] = static_cast<int32_t>(whole);
  const char* e = p + first;
#pragma GCC unroll 8
  for (int column = 1; column < want; ++column) {
    seps &= seps - 1;
    const char* b = e + 1;
    e = seps != 0 ? p + std::countr_zero(seps) : end;
    if ((unused >> column) & 1) {
      ints[column] = 0;
      ok &= e > b;
    } else {
      ok &= column_int(b, e, &ints[column]);
    }
  }
  return ok && seps == 0 ? nl + 1 : 0;
}

#else

// A digit loop: trace columns keep their widths from line to line, so its
// branches predict well. Returns the count of digits, 0 for none or more
// than kMaxPlainDigits.
inline int digits(const char* p, uint64_t* value) {
  const char* q = p;
  uint64_t v = 0;
  unsigned d;
  while ((d = static_cast<unsigned char>(*q - '0')) < 10) {
    v = v * 10 + d;
    ++q;
  }
  *value = v;
  int n = static_cast<int>(q - p);
  return n <= kMaxPlainDigits ? n : 0;
}

// As the SSE2 read above (every column is read). REQUIRES: a newline in
// the line's bytes, or a non-digit within kPlainLookahead bytes of any digit.
template <int want>
inline size_t read(const char* line, uint32_t /*unused*/, TraceTime* time, int32_t* ints) {
  const char* p = line;
  uint64_t whole, frac = 0;
  int n = digits(p, &whole), n_frac = 0;
  if (n == 0) return 0;
  p += n;
  if (*p == '.') {
    n_frac = digits(p + 1, &frac);
    if (n_frac == 0 || n + n_frac > kMaxPlainTimeDigits) return 0;
    p += 1 + n_frac;
  }
  *time = time_of(whole, frac, n_frac);
  ints[0] = static_cast<int32_t>(whole);
  for (int column = 1; column < want; ++column) {
    if (*p++ != ' ') return 0;
    bool negative = *p == '-';
    p += negative;
    uint64_t value;
    int k = digits(p, &value);
    if (k == 0 || (negative && value == 0)) return 0;  // "-0" reads as -0.0 as a time
    p += k;
    ints[column] = negative ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
  }
  if (*p == '\r') ++p;
  if (*p != '\n') return 0;
  return static_cast<size_t>(p - line) + 1;
}

#endif

}  // namespace plain_line
