// Order statistics of a run's figures.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// The p-th percentile by nearest rank: the value at rank ceil(p/100 * n)
// in ascending order (the first for p = 0). Reorders values.
// REQUIRES: values not empty, 0 <= p <= 100.
inline double nearest_rank(std::vector<double>& values, int p) {
  size_t n = values.size();
  size_t rank = static_cast<size_t>((static_cast<uint64_t>(p) * n + 99) / 100);  // ceil, exact
  if (rank == 0) rank = 1;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                   values.end());
  return values[rank - 1];
}
