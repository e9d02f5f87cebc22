// A sender-trace line as the simulation needs it.
#pragma once

#include <cstdint>

namespace trace_net {

struct SentLine {
  double time;  // on the traces' clock
  int32_t col1, frame, size;
};

}  // namespace trace_net
