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
  // Fast path: [sign] digits [. digits] with at most 19 significant digits
  // whose value fits in 53 bits and at most 22 decimals: one correctly
  // rounded division of two exact doubles, the same value strtod gives.
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
    if (++digits > 19) return strtod_c(begin, end);
    mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
  }
  if (p < end && *p == '.') {
    for (++p; p < end && is_digit(*p); ++p) {
      any_digit = true;
      ++decimals;
      if (mantissa == 0 && *p == '0') continue;
      if (++digits > 19) return strtod_c(begin, end);
      mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    }
  }
  bool plain = any_digit && decimals <= 22 && mantissa <= (uint64_t{1} << 53) &&
               (p == end || (*p != 'e' && *p != 'E' && *p != 'x' && *p != 'X'));
  if (!plain) return strtod_c(begin, end);
  double value = static_cast<double>(mantissa) / kPow10[decimals];
  return negative ? -value : value;
}

char* put_int(char* out, int32_t value) {
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0u - magnitude;
  }
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

namespace {

char* pad_to_16(char* begin, char* end) {
  while (end - begin < 16) *end++ = ' ';
  return end;
}

// Wide or non-finite values: printf itself, with the C locale for this
// thread only, so the process locale is never touched.
char* put_time_printf(char* out, double value) {
  locale_t previous = uselocale(c_locale());
  int n = std::snprintf(out, 400, "%f", value);
  uselocale(previous);
  return out + (n > 0 ? n : 0);
}

}  // namespace

char* put_int_left16(char* out, int32_t value) {
  return pad_to_16(out, put_int(out, value));
}

char* put_time(char* out, double value) {
  double magnitude = std::fabs(value);
  if (!(magnitude < 1e13)) return put_time_printf(out, value);
  // value = m * 2^-s exactly; value * 10^6 rounded half to even is
  // what printf's "%f" prints, computed here on 128-bit integers.
  uint64_t micros = 0;
  if (magnitude != 0) {
    int exponent = 0;
    double fraction = std::frexp(magnitude, &exponent);
    uint64_t m = static_cast<uint64_t>(std::ldexp(fraction, 53));
    int shift = 53 - exponent;  // > 0 since magnitude < 2^53
    if (shift < 128) {
      unsigned __int128 scaled = static_cast<unsigned __int128>(m) * 1000000u;
      unsigned __int128 q = scaled >> shift;
      unsigned __int128 rest = scaled - (q << shift);
      unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
      if (rest > half || (rest == half && (q & 1) != 0)) ++q;
      micros = static_cast<uint64_t>(q);
    }
  }
  if (std::signbit(value)) *out++ = '-';
  uint64_t whole = micros / 1000000;
  uint32_t frac = static_cast<uint32_t>(micros % 1000000);
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  while (n > 0) *out++ = digits[--n];
  *out++ = '.';
  for (int i = 5; i >= 0; --i) {
    out[i] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  return out + 6;
}

char* put_time_left16(char* out, double value) {
  return pad_to_16(out, put_time(out, value));
}
