// Integers and millionths to decimal text, four digits at a time from a
// table: the writers behind every number of every output line, defined
// here so that they are inlined into the line writers.
#pragma once

#include <cstdint>
#include <cstring>

#include "trace_io/swar.h"

namespace digits {

inline constexpr uint32_t kTenThousand = 10000;
inline constexpr uint64_t kEightDigits = 100000000;
inline constexpr uint64_t kMillion = 1000000;

// "0000" to "9999": the four digits of each number below 10^4 as one
// little-endian word, first character lowest. 40 KB, so its busy entries
// stay in the cache.
struct FourDigits {
  uint32_t text[kTenThousand];
  constexpr FourDigits() : text() {
    for (uint32_t i = 0; i < kTenThousand; ++i)
      text[i] = ('0' + i / 1000) | ('0' + i / 100 % 10) << 8 | ('0' + i / 10 % 10) << 16 |
                ('0' + i % 10) << 24;
  }
};
inline constexpr FourDigits kFourDigits;

// Every writer here stores whole words: it may write up to 8 bytes past
// the end it returns, which what comes next overwrites.

// Appends value < 10^4 without leading zeros: its table word, shifted.
inline char* put_below_1e4(char* out, uint32_t value) {
  int count = 1 + (value >= 10) + (value >= 100) + (value >= 1000);
  swar::store_le32(out, kFourDigits.text[value] >> (8 * (4 - count)));
  return out + count;
}

// value < 10^8: its high four digits without leading zeros, then its low four.
inline char* put_below_1e8(char* out, uint32_t value) {
  if (value < kTenThousand) return put_below_1e4(out, value);
  out = put_below_1e4(out, value / kTenThousand);
  swar::store_le32(out, kFourDigits.text[value % kTenThousand]);
  return out + 4;
}

// value >= 10^8: rare, so out of line.
[[gnu::noinline]] char* put_above_1e8(char* out, uint64_t value);

// Appends value in decimal.
inline char* put_unsigned(char* out, uint64_t value) {
  if (value >= kEightDigits) [[unlikely]]
    return put_above_1e8(out, value);
  return put_below_1e8(out, static_cast<uint32_t>(value));
}

// Appends count millionths as printf's "%f" prints them: the whole part,
// a full stop and exactly six decimals (the last two of one table word,
// then four).
inline char* put_micros(char* out, uint64_t count) {
  out = put_unsigned(out, count / kMillion);
  uint32_t decimals = static_cast<uint32_t>(count % kMillion);
  swar::store_le32(out, (kFourDigits.text[decimals / kTenThousand] >> 16) << 8 | '.');
  swar::store_le32(out + 3, kFourDigits.text[decimals % kTenThousand]);
  return out + 7;
}

// Left-justified in 16 columns: the value, then 16 spaces over whatever
// its writer left past its end.
template <typename Put, typename Value>
inline char* left16(char* out, Put put, Value value) {
  char* end = put(out, value);
  std::memset(end, ' ', 16);
  return end - out < 16 ? out + 16 : end;
}

}  // namespace digits
