// Number conversions against the C library they must equal, byte for byte
// and bit for bit, whatever the locale of the process.

#include "trace_io/numbers.h"

#include <locale.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>

#include "test_support.h"

namespace {

int32_t Int(const std::string& s) { return parse_int32(s.data(), s.data() + s.size()); }
double Time(const std::string& s) { return parse_time(s.data(), s.data() + s.size()); }

std::string Printf(const char* format, double value) {
  locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
  locale_t old = uselocale(c);
  char buf[512];
  std::snprintf(buf, sizeof buf, format, value);
  uselocale(old);
  freelocale(c);
  return buf;
}
std::string PutTime(double v) {
  char buf[512];
  return std::string(buf, put_time_left16(buf, v));
}
double Strtod(const std::string& s) {
  locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
  double v = strtod_l(s.c_str(), nullptr, c);
  freelocale(c);
  return v;
}
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Numbers, IntegersAreBase10ClampedAndStopAtNonDigits) {
  EXPECT_EQ(12, Int("12abc"));
  EXPECT_EQ(0, Int("abc"));
  EXPECT_EQ(0, Int(""));
  EXPECT_EQ(-42, Int("\t-42"));
  EXPECT_EQ(7, Int("+7\r"));
  EXPECT_EQ(10, Int("010"));
  EXPECT_EQ(INT32_MAX, Int("2147483648"));
  EXPECT_EQ(INT32_MIN, Int("-99999999999999999999999"));
  EXPECT_EQ(INT32_MIN, Int("-2147483648"));
  EXPECT_EQ(0, Int("- 5"));
}

TEST(Numbers, FastIntegerPathAgreesWithStrtol) {
  std::mt19937_64 rng(4);
  const char alphabet[] = "0123456789-+ x\t";
  for (int i = 0; i < 200000; ++i) {
    std::string s(rng() % 14, '0');
    for (char& c : s) c = rng() % 4 ? static_cast<char>('0' + rng() % 10) : alphabet[rng() % 15];
    long want = std::clamp<long>(std::strtol(s.c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
    EXPECT_EQ(want, Int(s)) << s;
    // As a token read in place, with the rest of the line after it.
    std::string line = s + " 12345678 9";
    EXPECT_EQ(want, token_int32(line.data(), line.data() + s.size())) << s;
  }
}

TEST(Numbers, IntegersPrintLikePrintf) {
  std::vector<int32_t> values = {0, INT32_MAX, INT32_MIN};
  for (int64_t power = 1; power <= 1000000000; power *= 10)
    for (int64_t v : {power - 1, power, -power}) values.push_back(static_cast<int32_t>(v));
  std::mt19937 rng(3);
  for (int i = 0; i < 100000; ++i) {
    values.push_back(static_cast<int32_t>(rng()));
    values.push_back(static_cast<int32_t>(rng() % 100000000));
    values.push_back(static_cast<int32_t>(rng() % 10000));
  }
  for (int32_t v : values) {
    char buf[64], want[64];
    std::snprintf(want, sizeof want, "%-16d|%d", v, v);
    char* end = put_int_left16(buf, v);
    *end++ = '|';
    EXPECT_EQ(want, std::string(buf, put_int(end, v)));
  }
}

TEST(Numbers, TimesReadExactlyAsStrtod) {
  std::vector<std::string> cases = {"1.5",
                                    "0.000001",
                                    "-0",
                                    "12.345678",
                                    "9007199254740993",
                                    "0.1e3",
                                    "1e400",
                                    "0x1p-3",
                                    "inf",
                                    "-nan",
                                    "INFINITY",
                                    ".5",
                                    "5.",
                                    ".",
                                    "-",
                                    "abc",
                                    "1.5.3",
                                    "1e",
                                    "3.14159265358979323846",
                                    "123456789012345678901234567890",
                                    "0.00000000000000000000000123",
                                    "1,5",
                                    "\t2.25"};
  std::mt19937_64 rng(1);
  for (int i = 0; i < 20000; ++i) {  // plain decimals of every length
    std::string d = std::to_string(rng() % 100000000000ull);
    int cut = static_cast<int>(rng() % (d.size() + 1));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%.*s.%s", rng() % 2 ? "-" : "", cut, d.c_str(),
                  d.c_str() + cut);
    cases.push_back(buf);
  }
  for (const std::string& s : cases) {
    EXPECT_TRUE(SameBits(Strtod(s), Time(s))) << s;
    // Tokens are read in place, with the rest of the line after them.
    if (!s.empty()) {
      std::string line = s + " 12345678 9";
      EXPECT_TRUE(SameBits(Strtod(s), Time(line))) << s;
      EXPECT_TRUE(SameBits(Strtod(s), token_time(line.data(), line.data() + s.size()))) << s;
    }
  }
}

TEST(Numbers, TimesPrintExactlyAsPrintf) {
  std::vector<double> cases = {
      0.0,   -0.0,  1.5,    0.0000005,      0.0000015, 2.5e-7,    -1e-9, 1e13, 9.9999999999999e12,
      1e300, -1e20, 5e-324, 123456.1234565, HUGE_VAL,  -HUGE_VAL, NAN,   -NAN};
  std::mt19937_64 rng(2);
  for (int i = 0; i < 20000; ++i) {
    double v;
    uint64_t bits = rng();
    std::memcpy(&v, &bits, sizeof v);
    cases.push_back(v);
    cases.push_back(static_cast<double>(rng() % 100000000000ull) / 1e6);
    cases.push_back(std::ldexp(static_cast<double>(rng() % 1000000), -20));  // exact halves
  }
  for (double v : cases) EXPECT_EQ(Printf("%-16f", v), PutTime(v)) << Printf("%.17g", v);
}

// A time with at most six decimals is kept as millionths and printed with
// integer arithmetic: the text must be what printf gives for strtod's value
// of the decimal, and value() must be that very double.
TEST(Numbers, TimesKeptAsMillionthsPrintAsPrintfOfStrtod) {
  std::vector<uint64_t> counts = {0,
                                  1,
                                  999999,
                                  1000000,
                                  1000001,
                                  123456789,
                                  TraceTime::kMaxMicros - 1,
                                  99999999999999ull,
                                  100000000000000ull};
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    counts.push_back(rng() % TraceTime::kMaxMicros);
    counts.push_back(rng() % 100000000000ull);
  }
  for (uint64_t count : counts) {
    TraceTime t = TraceTime::from_micros(count);
    ASSERT_TRUE(t.is_micros());
    EXPECT_EQ(count, t.micros());
    char text[64];
    std::snprintf(text, sizeof text, "%llu.%06llu",
                  static_cast<unsigned long long>(count / 1000000),
                  static_cast<unsigned long long>(count % 1000000));
    double want = Strtod(text);
    EXPECT_TRUE(SameBits(want, t.value())) << text;
    char buf[512];
    EXPECT_EQ(Printf("%-16f", want), std::string(buf, put_time_left16(buf, t))) << text;
  }
  // Doubles are kept as they are, a NaN as the NaN of its sign; none is taken for a count.
  for (double v : std::vector<double>{0.0, -0.0, 1.5, -2.25, 1e300, HUGE_VAL, NAN, -NAN,
                                      std::bit_cast<double>(0x7FFC000000000123ull),
                                      std::bit_cast<double>(0xFFFFFFFFFFFFFFFFull)}) {
    TraceTime t(v);
    EXPECT_FALSE(t.is_micros()) << v;
    EXPECT_TRUE(std::isnan(v) ? std::isnan(t.value()) && std::signbit(v) == std::signbit(t.value())
                              : SameBits(v, t.value()));
    char buf[512];
    EXPECT_EQ(Printf("%-16f", v), std::string(buf, put_time_left16(buf, t)));
  }
}

TEST(Numbers, CommaDecimalLocaleChangesNothing) {
  if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  std::string localized = buf;
  EXPECT_EQ(1.5, Time("1.5"));
  EXPECT_EQ("1.500000        ", PutTime(1.5));
  EXPECT_EQ(0.0025, Time("2.5e-3"));  // through the C library
  EXPECT_EQ("100000000000000000000.000000", PutTime(1e20));
  setlocale(LC_ALL, "C");
  EXPECT_EQ("1,5", localized);  // the locale was really in force
}

}  // namespace
