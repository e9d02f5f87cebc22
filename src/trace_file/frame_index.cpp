// The index arrays of the frame grouping.

#include "frame_index.h"

#include "failure.h"

Array<uint32_t> allocate_index(size_t count) {
  Array<uint32_t> array = allocate_array<uint32_t>(count);
  if (!array) fail("cannot allocate memory to group the traces by frame");
  return array;
}
