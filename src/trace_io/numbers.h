// Number conversions of the text formats, exactly those of the C library in
// the C locale (strtod, strtol clamped to int32, printf's %d and %f),
// whatever the user's locale: the decimal point is always a full stop.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "trace_io/digits.h"

// Widest results of the writers below, for the line-size checks of their
// callers: printf's "%f" of -DBL_MAX is 317 characters, "%d" of INT32_MIN 11.
inline constexpr size_t kMaxTimeChars = 317;
inline constexpr size_t kMaxIntChars = 11;
// Powers of ten, 10^0 to 10^19: every one exact as uint64_t, and as a
// double too (5^19 < 2^53).
inline constexpr uint64_t kPow10[] = {1ull,
                                      10ull,
                                      100ull,
                                      1000ull,
                                      10000ull,
                                      100000ull,
                                      1000000ull,
                                      10000000ull,
                                      100000000ull,
                                      1000000000ull,
                                      10000000000ull,
                                      100000000000ull,
                                      1000000000000ull,
                                      10000000000000ull,
                                      100000000000000ull,
                                      1000000000000000ull,
                                      10000000000000000ull,
                                      100000000000000000ull,
                                      1000000000000000000ull,
                                      10000000000000000000ull};
// Bytes the token readers may look at past a token's end.
inline constexpr size_t kTokenLookahead = 8;

// printf's "%f" takes six decimals: times are printed as whole millionths.
inline constexpr uint64_t kMicrosPerSecond = 1000000;

// A time as loaded from a trace, in the 8 bytes of a double. Most trace
// times have at most six decimals: such a time is kept as its exact count
// of millionths, which printf's "%f" of strtod's value prints digit for
// digit (below 2^50 millionths the double is within 2^-22 s of the text),
// so it is printed back with integer arithmetic only. Any other time is
// kept as the double strtod gives. The count rides in the payload of a
// quiet NaN that no double read from text carries (NaN-boxing): a NaN read
// from text is kept as the canonical NaN of its sign, which prints alike.
class TraceTime {
 public:
  static constexpr uint64_t kMaxMicros = uint64_t{1} << 50;

  TraceTime() = default;
  // A time kept as the double value.
  TraceTime(double value) {  // NOLINT: records are written with plain doubles in tests
    set(value != value ? (std::bit_cast<uint64_t>(value) & kSignBit) | kCanonicalNan
                       : std::bit_cast<uint64_t>(value));
  }
  // count millionths of a second. REQUIRES: count < kMaxMicros.
  static TraceTime from_micros(uint64_t count) {
    TraceTime t;
    t.set(kMicrosTag | count);
    return t;
  }
  bool is_micros() const { return (bits() & kTagMask) == kMicrosTag; }
  // REQUIRES: is_micros().
  uint64_t micros() const { return bits() & (kMaxMicros - 1); }
  // The double strtod gives for the time's text: for a count, one correctly
  // rounded division of two exact doubles.
  double value() const {
    return is_micros() ? static_cast<double>(micros()) / static_cast<double>(kMicrosPerSecond)
                       : std::bit_cast<double>(bits());
  }

 private:
  static constexpr uint64_t kSignBit = uint64_t{1} << 63;
  static constexpr uint64_t kCanonicalNan = 0x7FF8000000000000ull;
  static constexpr uint64_t kMicrosTag = 0x7FFC000000000000ull;  // a quiet NaN's next bit set
  static constexpr uint64_t kTagMask = 0xFFFC000000000000ull;    // sign, exponent, those two bits
  static_assert((kMicrosTag & (kMaxMicros - 1)) == 0 && (kTagMask & (kMaxMicros - 1)) == 0);
  // Bytes, not a uint64_t: a time needs no 8-byte alignment, so records of
  // 4-byte fields around it have no padding.
  uint64_t bits() const {
    uint64_t b;
    std::memcpy(&b, bytes_, sizeof b);
    return b;
  }
  void set(uint64_t b) { std::memcpy(bytes_, &b, sizeof b); }
  unsigned char bytes_[8] = {};  // +0.0
};
static_assert(sizeof(TraceTime) == 8 && alignof(TraceTime) == 1);

// Base 10, leading whitespace and a sign accepted, stops at the first
// character that cannot continue the number; out of range clamps to the
// int32 limits; no number reads as 0.
int32_t parse_int32(const char* begin, const char* end);
// Exactly what strtod gives in the C locale for the text [begin, end).
double parse_time(const char* begin, const char* end);

// The same for a whole token [begin, end) read in place from a line.
// REQUIRES: kTokenLookahead readable bytes from begin and from end.
int32_t token_int32(const char* begin, const char* end);
double token_time(const char* begin, const char* end);

// Append printf's "%d", "%-16d", "%f" and "%-16f"; return the new end.
// They store whole words: each may write up to kWriterScratch bytes past
// the end it returns (what comes next overwrites them).
// REQUIRES: room for kMaxIntChars, 16, kMaxTimeChars, kMaxTimeChars bytes
// respectively, plus kWriterScratch.
inline constexpr size_t kWriterScratch = 16;
char* put_time(char* out, double value);
char* put_time_left16(char* out, double value);
inline char* put_int(char* out, int32_t value) {
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  return digits::put_unsigned(out, magnitude);
}
inline char* put_int_left16(char* out, int32_t value) {
  return digits::left16(out, static_cast<char* (*)(char*, int32_t)>(put_int), value);
}
inline char* put_time(char* out, TraceTime time) {
  return time.is_micros() ? digits::put_micros(out, time.micros()) : put_time(out, time.value());
}
inline char* put_time_left16(char* out, TraceTime time) {
  return digits::left16(out, static_cast<char* (*)(char*, TraceTime)>(put_time), time);
}
