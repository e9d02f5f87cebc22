// Fuzz target: line-counted reading and record parsing of one trace, as a
// sender and as a receiver trace, and the number conversions of each token
// against the C library's.

#include <locale.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compress_support.h"
#include "fuzz_support.h"
#include "trace_io/numbers.h"
#include "trace_oracle.h"

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
  int32_t clamped = wide > INT32_MAX   ? INT32_MAX
                    : wide < INT32_MIN ? INT32_MIN
                                       : static_cast<int32_t>(wide);
  if (parse_int32(b, e) != clamped) __builtin_trap();
  // The readers' conversions of a whole token, with the line after it.
  std::string token(b, std::strcspn(b, " \n"));
  std::string line = token + " 1234567 89";
  const char* t = line.data();
  const char* u = t + token.size();
  double token_want = strtod_l(token.c_str(), nullptr, c);
  double token_got = token_time(t, u);
  if (std::memcmp(&token_want, &token_got, sizeof token_want) != 0) __builtin_trap();
  if (token_int32(t, u) != parse_int32(t, u)) __builtin_trap();
  char printed[512], expected[512];
  locale_t old = uselocale(c);
  std::snprintf(expected, sizeof expected, "%-16f", got);
  uselocale(old);
  *put_time_left16(printed, got) = '\0';
  if (std::strcmp(printed, expected) != 0) __builtin_trap();
}

// Every record holds the conversions of its line's tokens.
void CheckColumns(const uint8_t* data, size_t size, const SdRecord* records) {
  std::vector<std::vector<std::string>> lines =
      TokensOfLines(std::string_view(reinterpret_cast<const char*>(data), size));
  for (size_t i = 0; i < lines.size(); ++i)
    if (!SenderRecordMismatch(records[i], lines[i]).empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  CheckNumbers(data, size);
  WriteInput("trace", data, size);
  RunState state("trace_align");
  TraceFile trace(state);
  failure_message_of(state.program, [&] {
    InputFile in;
    OpenInput(in, "trace");
    trace.read_sd(1, in);
    // Every line was loaded, a last one without newline included; a
    // byte-order mark alone is no line.
    size_t text = size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    size_t lines = 0;
    for (size_t i = text; i < size; ++i) lines += data[i] == '\n';
    if (size > text && data[size - 1] != '\n') ++lines;
    if (static_cast<size_t>(trace.sd_num[1]) != lines) __builtin_trap();
    CheckColumns(data, size, trace.sd_list[1].get());
    InputFile again;
    OpenInput(again, "trace");
    trace.read_rd(again);
    if (trace.rd_num != trace.sd_num[1] || trace.rd_frame_num < 1) __builtin_trap();
    // The same bytes compressed load the same records, read once.
    WriteInput("trace.gz",
               Compress(Format::kGzip, std::string(reinterpret_cast<const char*>(data), size)));
    TraceFile unzipped(state);
    InputFile gz;
    OpenInput(gz, "trace.gz");
    unzipped.read_sd(1, gz);
    if (unzipped.sd_num[1] != trace.sd_num[1] ||
        std::memcmp(unzipped.sd_list[1].get(), trace.sd_list[1].get(), sizeof(SdRecord) * lines) !=
            0)
      __builtin_trap();
  });
  // Any bytes behind each magic number: a message or records, never a crash.
  for (Format format : {Format::kGzip, Format::kZstd, Format::kXz}) {
    std::string magic = Compress(format, "").substr(0, format == Format::kGzip ? 2 : 4);
    WriteInput("trace.z", magic + std::string(reinterpret_cast<const char*>(data), size));
    TraceFile decoded(state);
    failure_message_of(state.program, [&] {
      InputFile in;
      OpenInput(in, "trace.z");
      decoded.read_sd(1, in);
    });
  }
  return 0;
}
