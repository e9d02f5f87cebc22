// Fuzz target: a whole run from four inputs to six outputs. The input is
// split at the byte 0x01 into the three sender traces and the receiver trace.

#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "trace_align/run_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  static const char* const kNames[4] = {"sd0", "sd1", "sd2", "rd"};
  const uint8_t* end = data + size;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* cut =
        i < 3 ? static_cast<const uint8_t*>(std::memchr(data, 1, end - data)) : nullptr;
    const uint8_t* part_end = cut != nullptr ? cut : end;
    WriteInput(kNames[i], data, part_end - data);
    data = cut != nullptr ? cut + 1 : end;
  }
  // The shipped entry sequence, on two threads or, for every other input,
  // on the one-thread path.
  static bool one_thread = false;  // the fuzzer's own, not the tool's
  one_thread = !one_thread;
  char* argv[] = {const_cast<char*>("trace_align"), const_cast<char*>(kNames[0]),
                  const_cast<char*>(kNames[1]),     const_cast<char*>(kNames[2]),
                  const_cast<char*>(kNames[3]),     nullptr};
  std::fflush(stdout);
  RunState state("trace_align", one_thread);
  run(5, argv, state);
  return 0;
}
