// clang-format off
// Number conversions. Which input takes which path, and why each path gives
// exactly the C library's result:
//
// | function    | input                                      | path                          | exact because
// |-------------|--------------------------------------------|-------------------------------|------------------------------
// | token_int32 | [-] then 1 to 8 digits, the whole token    | SWAR eight-digit parsing      | below 10^8: no clamping, no overflow
// |             | anything else                              | parse_int32                   |
// | parse_int32 | anything                                   | digit loop, 64-bit, capped    | the cap (2^40) is far above the clamp
// | token_time  | [sign] 1-7 digits '.' 1-7 digits, whole    | SWAR both parts, one division | Clinger's fast path: at most 14 digits
// |             |                                            |                               | (< 2^53) over an exact 10^k, k <= 7
// |             | anything else                              | parse_time                    |
// | parse_time  | [sign] digits [. digits], no exponent or   | digit loop, one division      | Clinger's fast path: mantissa <= 2^53,
// |             | hex, <= 19 significant digits, <= 19       |                               | 10^k exact for k <= 19, one correctly
// |             | decimals, mantissa <= 2^53                 |                               | rounded IEEE division
// |             | anything else                              | strtod_l in the C locale      | it is the reference
// | put_int     | any int32                                  | four-digit table (digits.h)   | integer arithmetic
// | put_time    | a TraceTime kept as millionths             | four-digit table (digits.h)   | the double is within 2^-22 of the
// | (TraceTime) |                                            |                               | text: "%f" prints the text's digits
// |             | a TraceTime kept as a double               | put_time below                |
// | put_time    | |v| < 1e9 whose v*1e6 lies >= 3/8 from a   | rounded double product        | the product's error is <= 1/16
// |             | half                                       |                               |
// |             | |v| < 1e13 otherwise                       | 128-bit exact scaling         | v = m * 2^-s exactly; round half even
// |             | |v| >= 1e13, inf, nan                      | snprintf in the C locale      | it is the reference
// clang-format on
//
// Lines in the plain form are read without these token readers, in one
// scan (plain_line.h, which has its own table); the results are the same.
//
// Nothing here depends on the process locale; the C library is called with
// an explicit C locale (strtod_l, uselocale), never setlocale.

#include "trace_io/numbers.h"

#include <locale.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace_io/swar.h"

namespace {

constexpr int kMaxExactPow10 = 19;
constexpr uint64_t kMaxExactMantissa = uint64_t{1} << 53;  // every integer up to it is a double
constexpr int kMaxFastDigits = 19;                         // fit in uint64_t without overflow

constexpr uint64_t kMicros = kMicrosPerSecond;

locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------- Clinger's fast path

// The value of a plain decimal at [begin, end) (see the table above);
// false when the text is not plain and needs strtod.
bool plain_decimal(const char* begin, const char* end, double* out) {
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  uint64_t mantissa = 0;
  int digits = 0;
  int decimals = 0;
  bool any_digit = false;
  for (; p < end && is_digit(*p); ++p) {
    any_digit = true;
    if (mantissa == 0 && *p == '0') continue;
    if (++digits > kMaxFastDigits) return false;
    mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (p < end && *p == '.') {
    for (++p; p < end && is_digit(*p); ++p) {
      any_digit = true;
      ++decimals;
      if (mantissa == 0 && *p == '0') continue;
      if (++digits > kMaxFastDigits) return false;
      mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    }
  }
  bool plain = any_digit && decimals <= kMaxExactPow10 && mantissa <= kMaxExactMantissa &&
               (p == end || (*p != 'e' && *p != 'E' && *p != 'x' && *p != 'X'));
  if (!plain) return false;
  double value = static_cast<double>(mantissa) / static_cast<double>(kPow10[decimals]);
  *out = negative ? -value : value;
  return true;
}

double strtod_c(const char* begin, const char* end) {
  // Tokens come from line buffers: copy so the conversion cannot run past
  // the token, and so it sees a terminated string.
  char buf[1024];
  size_t n = static_cast<size_t>(end - begin);
  if (n >= sizeof buf) n = sizeof buf - 1;
  std::memcpy(buf, begin, n);
  buf[n] = '\0';
  return strtod_l(buf, nullptr, c_locale());
}

// ---------------------------------------------------------------- integers to text

}  // namespace

char* digits::put_above_1e8(char* out, uint64_t value) {
  using namespace digits;
  uint64_t high = value / kEightDigits;
  out = high >= kEightDigits ? put_above_1e8(out, high)
                             : put_below_1e8(out, static_cast<uint32_t>(high));
  uint32_t low = static_cast<uint32_t>(value % kEightDigits);
  swar::store_le32(out, kFourDigits.text[low / kTenThousand]);
  swar::store_le32(out + 4, kFourDigits.text[low % kTenThousand]);
  return out + 8;
}

namespace {

// ---------------------------------------------------------------- times to text

// Below this magnitude the double product v * 1e6 is within 1/16 of the true one.
constexpr double kProductExactBelow = 1e9;
// Below this magnitude v * 10^6 fits the 128-bit scaling (and a uint64_t).
constexpr double kScaledBelow = 1e13;

// |v| * 10^6 rounded half to even, exactly as printf's "%f" rounds.
// REQUIRES: magnitude < kScaledBelow, not negative.
uint64_t micros_of(double magnitude) {
  // Usually the rounded product is far from a half: below 1e9 its error is
  // at most 1/16, so an integer within 3/8 of it is the exact answer.
  if (magnitude < kProductExactBelow) {
    double scaled = magnitude * static_cast<double>(kMicros);
    uint64_t nearest = static_cast<uint64_t>(scaled + 0.5);
    double distance = scaled - static_cast<double>(nearest);
    if (distance < 0.375 && distance > -0.375) return nearest;
  }
  // Otherwise: magnitude = m * 2^-shift exactly, on 128-bit integers.
  uint64_t bits = std::bit_cast<uint64_t>(magnitude);
  int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) m |= uint64_t{1} << 52;
  int shift = biased != 0 ? 1075 - biased : 1074;  // > 8 below 1e13
  if (m == 0 || shift >= 128) return 0;
  unsigned __int128 scaled = static_cast<unsigned __int128>(m) * kMicros;
  unsigned __int128 q = scaled >> shift;
  unsigned __int128 rest = scaled - (q << shift);
  unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  return static_cast<uint64_t>(q);
}

// Wide or non-finite values: printf itself, with the C locale for this
// thread only, so the process locale is never touched.
char* put_time_printf(char* out, double value) {
  char text[kMaxTimeChars + 1];
  locale_t previous = uselocale(c_locale());
  int n = std::snprintf(text, sizeof text, "%f", value);
  uselocale(previous);
  size_t length = n > 0 ? static_cast<size_t>(n) : 0;
  std::memcpy(out, text, length);  // without the terminator: out may be padded already
  return out + length;
}

}  // namespace

// ---------------------------------------------------------------- text to numbers

int32_t parse_int32(const char* p, const char* end) {
  while (p < end && is_c_space(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Saturate well above the int32 range; the limit is applied at the end.
  constexpr int64_t kCap = int64_t{1} << 40;
  int64_t value = 0;
  for (; p < end && is_digit(*p); ++p) {
    if (value < kCap) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

double parse_time(const char* begin, const char* end) {
  double value;
  if (plain_decimal(begin, end, &value)) return value;
  return strtod_c(begin, end);
}

int32_t token_int32(const char* begin, const char* end) {
  bool negative = *begin == '-';
  const char* digits = begin + negative;
  uint64_t value;
  if (end - digits <= 8 && swar::eight_digits(digits, &value) == end - digits) {
    int32_t magnitude = static_cast<int32_t>(value);
    return negative ? -magnitude : magnitude;
  }
  return parse_int32(begin, end);
}

double token_time(const char* begin, const char* end) {
  // Commonest of all, "1234.567890": both parts at once.
  const char* p = begin + (*begin == '-' || *begin == '+');
  uint64_t whole, fraction;
  int n = swar::eight_digits(p, &whole);
  if (n > 0 && n < 8 && p[n] == '.') {
    const char* f = p + n + 1;
    int m = swar::eight_digits(f, &fraction);
    if (m > 0 && m < 8 && f + m == end) {
      double value =
          static_cast<double>(whole * kPow10[m] + fraction) / static_cast<double>(kPow10[m]);
      return *begin == '-' ? -value : value;
    }
  }
  return parse_time(begin, end);
}

// ---------------------------------------------------------------- numbers to text

char* put_time(char* out, double value) {
  if (!(std::fabs(value) < kScaledBelow)) return put_time_printf(out, value);
  uint64_t micros = micros_of(std::fabs(value));
  if (std::signbit(value)) *out++ = '-';
  return digits::put_micros(out, micros);
}

char* put_time_left16(char* out, double value) {
  return digits::left16(out, static_cast<char* (*)(char*, double)>(put_time), value);
}
