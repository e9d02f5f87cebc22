// Number conversions of the text formats. They never depend on the user's
// locale: the decimal point is always a full stop. Plain decimals take exact
// fast paths; anything else goes to the C library under the C locale, so the
// results are always exactly what strtod and printf give there.

#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "trace_file.h"

namespace {

locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

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

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

namespace {

// Digit values of up to 8 leading ASCII digits at p, eight bytes at a time:
// returns how many bytes are digits (8 when all are) and their value.
int eight_digits(const char* p, uint64_t* value) {
  uint64_t chunk;
  std::memcpy(&chunk, p, 8);
  uint64_t sub = chunk - 0x3030303030303030ull;
  // A byte is no digit when byte - '0' wraps or exceeds 9. Borrows and
  // carries only reach bytes above the first non-digit, which are dropped.
  uint64_t nondigit = (sub | (sub + 0x7676767676767676ull)) & 0x8080808080808080ull;
  int count = nondigit == 0 ? 8 : __builtin_ctzll(nondigit) / 8;
  if (count == 0) {
    *value = 0;
    return 0;
  }
  // Leading zero digits in place of the dropped bytes, then combine pairs,
  // quads and the two halves.
  uint64_t v = sub << (8 * (8 - count));
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  *value = v;
  return count;
}

}  // namespace

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

namespace {

// The value of a plain decimal at begin, read up to where it stops
// (returned); nullptr when the number is not plain and needs strtod.
const char* scan_time(const char* begin, const char* end, double* out) {
  // [sign] digits [. digits] with at most 19 significant digits whose
  // value fits in 53 bits and at most 22 decimals: one correctly rounded
  // division of two exact doubles, the same value strtod gives.
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
    if (++digits > 19) return nullptr;
    mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (p < end && *p == '.') {
    for (++p; p < end && is_digit(*p); ++p) {
      any_digit = true;
      ++decimals;
      if (mantissa == 0 && *p == '0') continue;
      if (++digits > 19) return nullptr;
      mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    }
  }
  bool plain = any_digit && decimals <= 22 && mantissa <= (uint64_t{1} << 53) &&
               (p == end || (*p != 'e' && *p != 'E' && *p != 'x' && *p != 'X'));
  if (!plain) return nullptr;
  double value = static_cast<double>(mantissa) / kPow10[decimals];
  *out = negative ? -value : value;
  return p;
}

}  // namespace

double parse_time(const char* begin, const char* end) {
  double value;
  if (scan_time(begin, end, &value) != nullptr) return value;
  return strtod_c(begin, end);
}

int32_t token_int32(const char* begin, const char* end) {
  // Up to 8 digits after an optional minus: exact, and within int32.
  bool negative = *begin == '-';
  const char* digits = begin + negative;
  uint64_t value;
  if (end - digits <= 8 && eight_digits(digits, &value) == end - digits) {
    int32_t magnitude = static_cast<int32_t>(value);
    return negative ? -magnitude : magnitude;
  }
  return parse_int32(begin, end);
}

double token_time(const char* begin, const char* end) {
  // Commonest of all, "1234.567890": both parts at once, 8 bytes at a time;
  // the whole number then has at most 14 digits, so it and the power of
  // ten are exact doubles and their quotient is correctly rounded.
  const char* p = begin + (*begin == '-' || *begin == '+');
  uint64_t whole, fraction;
  int n = eight_digits(p, &whole);
  if (n > 0 && n < 8 && p[n] == '.') {
    const char* f = p + n + 1;
    int m = eight_digits(f, &fraction);
    if (m > 0 && m < 8 && f + m == end) {
      static constexpr uint64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
      double value = static_cast<double>(whole * kScale[m] + fraction) / kPow10[m];
      return *begin == '-' ? -value : value;
    }
  }
  return parse_time(begin, end);
}

namespace {

// "00" "01" ... "99": two digits per division.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kPairs;

constexpr uint64_t kPowers[] = {1ull,
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

int digit_count(uint64_t value) {
  // 1233/4096 is just above log10(2): from the bit length, a guess that is
  // exact or one short. Powers of ten above 1 are even, so value | 1 lets
  // 0 count as one digit without changing any other answer.
  int guess = ((64 - __builtin_clzll(value | 1)) * 1233) >> 12;
  return guess + ((value | 1) >= kPowers[guess]);
}

char* put_unsigned(char* out, uint64_t value) {
  // Written from the end backwards, straight into place.
  char* end = out + digit_count(value);
  char* p = end;
  while (value >= 100) {
    p -= 2;
    std::memcpy(p, kPairs.text + 2 * (value % 100), 2);
    value /= 100;
  }
  if (value >= 10) {
    std::memcpy(p - 2, kPairs.text + 2 * value, 2);
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return end;
}

}  // namespace

char* put_int(char* out, int32_t value) {
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  return put_unsigned(out, magnitude);
}

namespace {

// Left-justified in 16 columns: spaces go down first, the value over them.
template <typename Put, typename Value>
char* left16(char* out, Put put, Value value) {
  std::memset(out, ' ', 16);
  char* end = put(out, value);
  return end - out < 16 ? out + 16 : end;
}

// Wide or non-finite values: printf itself, with the C locale for this
// thread only, so the process locale is never touched.
char* put_time_printf(char* out, double value) {
  char text[400];  // the widest double in "%f" takes 317 bytes
  locale_t previous = uselocale(c_locale());
  int n = std::snprintf(text, sizeof text, "%f", value);
  uselocale(previous);
  size_t length = n > 0 ? static_cast<size_t>(n) : 0;
  std::memcpy(out, text, length);  // without the terminator: out may be padded already
  return out + length;
}

}  // namespace

char* put_int_left16(char* out, int32_t value) { return left16(out, put_int, value); }

// value * 10^6 rounded half to even, exactly as printf's "%f" rounds, for
// |value| < 1e13.
static uint64_t micros_of(double magnitude) {
  // Usually the rounded product is far from a half: below 1e9 its error is
  // at most 1/16, so an integer within 3/8 of it is the exact answer.
  if (magnitude < 1e9) {
    double scaled = magnitude * 1e6;
    uint64_t nearest = static_cast<uint64_t>(scaled + 0.5);
    double distance = scaled - static_cast<double>(nearest);
    if (distance < 0.375 && distance > -0.375) return nearest;
  }
  // Otherwise: magnitude = m * 2^-shift exactly, on 128-bit integers.
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) m |= uint64_t{1} << 52;
  int shift = biased != 0 ? 1075 - biased : 1074;  // > 8 below 1e13
  if (m == 0 || shift >= 128) return 0;
  unsigned __int128 scaled = static_cast<unsigned __int128>(m) * 1000000u;
  unsigned __int128 q = scaled >> shift;
  unsigned __int128 rest = scaled - (q << shift);
  unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  return static_cast<uint64_t>(q);
}

char* put_time(char* out, double value) {
  if (!(std::fabs(value) < 1e13)) return put_time_printf(out, value);
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  uint64_t micros = micros_of(std::fabs(value));
  if (bits >> 63) *out++ = '-';
  out = put_unsigned(out, micros / 1000000);
  *out++ = '.';
  uint32_t frac = static_cast<uint32_t>(micros % 1000000);
  std::memcpy(out, kPairs.text + 2 * (frac / 10000), 2);
  std::memcpy(out + 2, kPairs.text + 2 * (frac / 100 % 100), 2);
  std::memcpy(out + 4, kPairs.text + 2 * (frac % 100), 2);
  return out + 6;
}

char* put_time_left16(char* out, double value) { return left16(out, put_time, value); }
