// Fuzz target: line-counted reading and record parsing of one trace, as a
// sender and as a receiver trace, and the number conversions of each token
// against the C library's.

#include <locale.h>

#include <cmath>
#include <cstring>

#include "fuzz_support.h"

namespace {

void CheckNumbers(const uint8_t* data, size_t size) {
  static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
  std::string text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  const char* b = text.c_str();
  const char* e = b + std::strlen(b);
  double want = strtod_l(b, nullptr, c);
  double got = parse_time(b, e);
  if (std::memcmp(&want, &got, sizeof want) != 0) __builtin_trap();
  long wide = strtol_l(b, nullptr, 10, c);
  int32_t clamped = wide > INT32_MAX ? INT32_MAX : wide < INT32_MIN ? INT32_MIN : static_cast<int32_t>(wide);
  if (parse_int32(b, e) != clamped) __builtin_trap();
  char printed[512], expected[512];
  locale_t old = uselocale(c);
  std::snprintf(expected, sizeof expected, "%-16f", got);
  uselocale(old);
  *put_time_left16(printed, got) = '\0';
  if (std::strcmp(printed, expected) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  CheckNumbers(data, size);
  WriteInput("trace", data, size);
  set_outputs_created(false);
  TraceFile trace;
  try {
    InputFile in;
    OpenInput(in, "trace");
    trace.read_sd(1, in);
    // Every line was loaded, a last one without newline included.
    size_t lines = 0;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    if (size > 0 && data[size - 1] != '\n') ++lines;
    if (static_cast<size_t>(trace.sd_num[1]) != lines) __builtin_trap();
    InputFile again;
    OpenInput(again, "trace");
    trace.read_rd(again);
    if (trace.rd_num != trace.sd_num[1] || trace.rd_frame_num < 1) __builtin_trap();
  } catch (const RunEnded&) {
  }
  return 0;
}
