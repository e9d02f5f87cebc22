// Eight decimal digits at a time in one 64-bit word (SWAR: SIMD within a
// register), for the number readers and writers. Text is loaded and stored
// little-endian whatever the machine, so the first character of the text
// is always the lowest byte of the word.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace swar {

static_assert(std::endian::native == std::endian::big || std::endian::native == std::endian::little,
              "mixed-endian machines are not supported");

inline uint64_t load_le64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline void store_le64(char* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

inline void store_le32(char* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, sizeof v);
}

inline constexpr uint64_t kAsciiZeros = 0x3030303030303030ull;  // '0' in every byte
// Added to byte - '0', sets the high bit of a byte exactly when it is
// above 9: 0x76 + 10 = 0x80.
inline constexpr uint64_t kAboveNine = 0x7676767676767676ull;
inline constexpr uint64_t kHighBits = 0x8080808080808080ull;
// Multipliers that combine digit pairs into quads and quads into the
// whole: 100 + (1000000 << 32) and 1 + (10000 << 32).
inline constexpr uint64_t kPairsToQuads = 100 + (1000000ull << 32);
inline constexpr uint64_t kQuadsToWhole = 1 + (10000ull << 32);
inline constexpr uint64_t kLowByteOfHalves = 0x000000FF000000FFull;

// Reads up to 8 leading ASCII digits at p: returns how many bytes are
// digits (8 when all are) and stores their value (0 when there are none).
// REQUIRES: 8 readable bytes at p.
[[gnu::always_inline]] inline int eight_digits(const char* p, uint64_t* value) {
  uint64_t sub = load_le64(p) - kAsciiZeros;
  // A byte is no digit when byte - '0' wraps or exceeds 9. Borrows and
  // carries only reach bytes above the first non-digit, which are dropped.
  uint64_t nondigit = (sub | (sub + kAboveNine)) & kHighBits;
  int count = nondigit == 0 ? 8 : std::countr_zero(nondigit) / 8;
  // Leading zero digits in place of the dropped bytes (all of them when
  // count is 0: a shift by 64 is undefined, so by 32 twice), then combine
  // pairs, quads and the two halves.
  int shift = 8 * (8 - count);
  uint64_t v = (sub << (shift / 2)) << (shift - shift / 2);
  v = (v * 10) + (v >> 8);
  v = (((v & kLowByteOfHalves) * kPairsToQuads) +
       (((v >> 16) & kLowByteOfHalves) * kQuadsToWhole)) >>
      32;
  *value = v;
  return count;
}

// The value of the `length` characters that end at `end` when all are
// digits: the word that ends there, the bytes before them replaced by '0',
// read as eight digits. Returns false if any of them is not a digit.
// REQUIRES: 1 <= length <= 8; 8 readable bytes before end.
[[gnu::always_inline]] inline bool digits_ending_at(const char* end, size_t length,
                                                    uint64_t* value) {
  uint64_t theirs = ~uint64_t{0} << (8 * (8 - length));  // the last bytes: the word's highest
  uint64_t sub = ((load_le64(end - 8) & theirs) | (kAsciiZeros & ~theirs)) - kAsciiZeros;
  if (((sub | (sub + kAboveNine)) & kHighBits) != 0) return false;
  uint64_t v = (sub * 10) + (sub >> 8);
  *value = (((v & kLowByteOfHalves) * kPairsToQuads) +
            (((v >> 16) & kLowByteOfHalves) * kQuadsToWhole)) >>
           32;
  return true;
}

// Multipliers that divide each lane of a word at once: (x * 10486) >> 20
// is x / 100 for x < 43699, and (x * 103) >> 10 is x / 10 for x < 179.
inline constexpr uint64_t kDivideBy100 = 10486;
inline constexpr uint64_t kDivideBy10 = 103;
inline constexpr uint64_t kLowSevenBitsOfHalves = 0x0000007F0000007Full;
inline constexpr uint64_t kLowNibbleOfQuarters = 0x000F000F000F000Full;

// The eight decimal digits of value, leading zeros included, as text in a
// word: two quads in 32-bit lanes, split into four pairs in 16-bit lanes,
// then into digits in bytes, each step one multiply for all lanes. The
// first character (the lowest byte) is the most significant digit.
// REQUIRES: value < 10^8.
inline uint64_t eight_digit_text(uint32_t value) {
  uint64_t quads = value / 10000 | uint64_t{value % 10000} << 32;
  uint64_t hundreds = (quads * kDivideBy100) >> 20 & kLowSevenBitsOfHalves;
  uint64_t pairs = hundreds | (quads - hundreds * 100) << 16;
  uint64_t tens = (pairs * kDivideBy10) >> 10 & kLowNibbleOfQuarters;
  return (tens | (pairs - tens * 10) << 8) + kAsciiZeros;
}

}  // namespace swar
