// The index arrays of the frame grouping.

#include "trace_align/frame_index.h"

#include "trace_io/failure.h"

Array<uint32_t> allocate_index(size_t count) {
  Array<uint32_t> array = allocate_array<uint32_t>(count);
  if (!array) fail_out_of_memory("cannot allocate memory to group the traces by frame");
  return array;
}
