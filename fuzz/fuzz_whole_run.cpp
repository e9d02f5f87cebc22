// Fuzz target: a whole run from four inputs to six outputs. The input is
// split at the byte 0x01 into the three sender traces and the receiver trace.

#include <cstring>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  static const char* const kNames[4] = {"sd0", "sd1", "sd2", "rd"};
  const uint8_t* end = data + size;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* cut = i < 3 ? static_cast<const uint8_t*>(std::memchr(data, 1, end - data)) : nullptr;
    const uint8_t* part_end = cut != nullptr ? cut : end;
    WriteInput(kNames[i], data, part_end - data);
    data = cut != nullptr ? cut + 1 : end;
  }
  set_outputs_created(false);
  TraceFile* run = new TraceFile();
  try {
    InputFile inputs[4];
    for (int i = 0; i < 4; ++i) OpenInput(inputs[i], kNames[i]);
    refuse_inputs_among_outputs(inputs, 4);
    run->read_sd(0, inputs[0]);
    run->read_sd(1, inputs[1]);
    run->read_sd(2, inputs[2]);
    run->read_rd(inputs[3]);
    run->start();
  } catch (const RunEnded&) {
  }
  delete run;
  return 0;
}
